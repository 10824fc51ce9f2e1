/* Times a dialog's start as a person sees it: from just before the program is started to the
 * moment the X server maps its first top-level window (a window that is not override-redirect, so
 * not a tooltip or a menu). The program is then ended with SIGTERM.
 *
 * Usage: dialog_map_time PROGRAM [ARGUMENT...]     (on the display DISPLAY names)
 * Prints three numbers of microseconds on standard output: the time until the window was mapped;
 * the CPU time the program's threads had used by then (from the scheduler's own count, which
 * other load on the machine moves less than the first); and the time until the window showed its
 * first picture (text and frames, polled every half millisecond). Exit status: 0 measured; 1 the
 * program ended, or showed nothing within 20 s; 2 usage or no display. */
#define _GNU_SOURCE
#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>

static int64_t NowMicroseconds(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (int64_t)now.tv_sec * 1000000 + now.tv_nsec / 1000;
}

/* The CPU time, in microseconds, that the threads of `process` have run so far. */
static int64_t CpuMicroseconds(pid_t process) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/task", (int)process);
  DIR* tasks = opendir(path);
  if (tasks == NULL) return -1;
  int64_t total = 0;
  const struct dirent* task;
  while ((task = readdir(tasks)) != NULL) {
    if (task->d_name[0] == '.') continue;
    char stat_path[sizeof path + sizeof task->d_name + 16];
    snprintf(stat_path, sizeof stat_path, "%s/%s/schedstat", path, task->d_name);
    FILE* file = fopen(stat_path, "r");
    long long on_cpu_ns = 0;
    if (file != NULL && fscanf(file, "%lld", &on_cpu_ns) == 1) total += on_cpu_ns / 1000;
    if (file != NULL) fclose(file);
  }
  closedir(tasks);
  return total;
}

/* Whether `window` shows anything yet: a row of pixels at a fifth, two, three and four fifths of
 * its height that is not all one colour (an unpainted window is a blank, its face colour alone
 * would be one too; the dialog's text and frames are not). */
static int Painted(xcb_connection_t* connection, xcb_window_t window) {
  xcb_get_geometry_reply_t* geometry =
      xcb_get_geometry_reply(connection, xcb_get_geometry(connection, window), NULL);
  if (geometry == NULL) return 0;
  const uint16_t width = geometry->width;
  const uint16_t height = geometry->height;
  free(geometry);
  int painted = 0;
  for (int fifth = 1; fifth <= 4 && !painted; ++fifth) {
    xcb_get_image_reply_t* row =
        xcb_get_image_reply(connection,
                            xcb_get_image(connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0,
                                          (int16_t)(height * fifth / 5), width, 1, UINT32_MAX),
                            NULL);
    if (row == NULL) continue;
    const uint32_t* pixels = (const uint32_t*)xcb_get_image_data(row);
    const int count = xcb_get_image_data_length(row) / 4;
    for (int i = 1; i < count && !painted; ++i)
      painted = (pixels[i] & 0xFFFFFF) != (pixels[0] & 0xFFFFFF);
    free(row);
  }
  return painted;
}

/* The first top-level window mapped since the watch began; 0 when none is in the queue. */
static xcb_window_t TakeMappedWindow(xcb_connection_t* connection) {
  xcb_generic_event_t* event;
  xcb_window_t mapped = 0;
  while (mapped == 0 && (event = xcb_poll_for_event(connection)) != NULL) {
    if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
      const xcb_map_notify_event_t* map = (const xcb_map_notify_event_t*)event;
      if (!map->override_redirect) mapped = map->window;
    }
    free(event);
  }
  return mapped;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
    return 2;
  }
  /* Now and then a connection to Xvfb fails on a busy machine; one that is there answers again. */
  xcb_connection_t* connection = xcb_connect(NULL, NULL);
  for (int attempt = 1; attempt < 3 && xcb_connection_has_error(connection); ++attempt) {
    xcb_disconnect(connection);
    usleep(50000);
    connection = xcb_connect(NULL, NULL);
  }
  if (xcb_connection_has_error(connection)) {
    fprintf(stderr, "dialog_map_time: no display\n");
    return 2;
  }
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  /* Checked, so that the watch is in place before the program starts. */
  xcb_generic_error_t* error = xcb_request_check(
      connection,
      xcb_change_window_attributes_checked(connection, screen->root, XCB_CW_EVENT_MASK, &mask));
  if (error != NULL) {
    fprintf(stderr, "dialog_map_time: cannot watch the root window\n");
    return 2;
  }

  const int64_t start = NowMicroseconds();
  const pid_t child = fork();
  if (child < 0) return 2;
  if (child == 0) {
    close(xcb_get_file_descriptor(connection));
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  struct pollfd wait = {.fd = xcb_get_file_descriptor(connection), .events = POLLIN};
  int64_t mapped_at = -1;
  int64_t painted_at = -1;
  int64_t cpu = -1;
  xcb_window_t window = 0;
  while (NowMicroseconds() - start < 20 * 1000000) {
    if ((window = TakeMappedWindow(connection)) != 0) {
      mapped_at = NowMicroseconds();
      cpu = CpuMicroseconds(child);
      break;
    }
    if (waitpid(child, NULL, WNOHANG) == child) {
      fprintf(stderr, "dialog_map_time: %s ended before it showed a window\n", argv[1]);
      return 1;
    }
    poll(&wait, 1, 50);
  }
  /* Then, looking a row of pixels at a time, for its first picture. */
  while (window != 0 && NowMicroseconds() - start < 20 * 1000000) {
    if (Painted(connection, window)) {
      painted_at = NowMicroseconds();
      break;
    }
    usleep(500);
  }
  kill(child, SIGTERM);
  waitpid(child, NULL, 0);
  xcb_disconnect(connection);
  if (mapped_at < 0 || painted_at < 0) {
    fprintf(stderr, "dialog_map_time: %s showed no window within 20 s\n", argv[1]);
    return 1;
  }
  printf("%lld %lld %lld\n", (long long)(mapped_at - start), (long long)cpu,
         (long long)(painted_at - start));
  return 0;
}
