/* The I/O floor with the promises of a drop-folder run: the system calls that quorvane --batch
 * makes on a small input, in its order, made by a plain C program that converts nothing and
 * allocates nothing. Its time over io_floor's is what keeping the promises costs whatever the
 * program, and quorvane's time over this one's what quorvane costs beyond its system calls.
 *
 * Usage: io_promises DROP PRECOMPUTED
 *   DROP         a drop folder: DROP/AutoFile/Bintake.tbin is converted (deleted at the end)
 *                into DROP/Result/Decyield.tbin; DROP/temp is locked
 *   PRECOMPUTED  the bytes to write as the result (read, never converted)
 * Environment: SKIP, letters of the promises to leave out, to price each one:
 *   S safe standard descriptors    F folders found (the settings' user-dirs.dirs, three stats)
 *   L the lock                     C leftover claims looked for     E lease and shared flock
 *   T leftover temporaries         R the result's checks (its status, the new file's)
 *   D deleting by claim (a plain unlink instead)                   J the journal record
 * Exit status: 0 done, 2 usage or I/O error. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "log_record.h"

static const char* skip = "";

static int keeps(char promise) { return strchr(skip, promise) == NULL; }

static int fail(const char* what) {
  perror(what);
  return 2;
}

/* Reads every name in a folder, as a scan for leftovers does. */
static void scan(const char* folder) {
  char names[4096];
  const int fd = open(folder, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_DIRECTORY);
  if (fd < 0) return;
  while (syscall(SYS_getdents64, fd, names, sizeof names) > 0) {
  }
  close(fd);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s DROP PRECOMPUTED\n", argv[0]);
    return 2;
  }
  if (getenv("SKIP") != NULL) skip = getenv("SKIP");
  char result_folder[4096], lock_folder[4096], input_folder[4096], input[4200], result[4200];
  char partial[4300], claim[4300];
  snprintf(result_folder, sizeof result_folder, "%s/Result", argv[1]);
  snprintf(lock_folder, sizeof lock_folder, "%s/temp", argv[1]);
  snprintf(input_folder, sizeof input_folder, "%s/AutoFile", argv[1]);
  snprintf(input, sizeof input, "%s/Bintake.tbin", input_folder);
  snprintf(result, sizeof result, "%s/Decyield.tbin", result_folder);
  struct stat st;

  if (keeps('S')) {
    struct pollfd standard[3] = {{.fd = 0}, {.fd = 1}, {.fd = 2}};
    poll(standard, 3, 0);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGXFSZ, SIG_IGN);
  }
  struct timespec started;
  /* Asked of the kernel, as quorvane does: the vDSO would fault in its data pages first. */
  if (keeps('J')) syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &started);
  if (keeps('F')) {
    char settings[4200];
    const char* config = getenv("XDG_CONFIG_HOME");
    snprintf(settings, sizeof settings, "%s/user-dirs.dirs", config != NULL ? config : "/");
    const int fd = open(settings, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) close(fd);
    lstat(result_folder, &st);
    lstat(lock_folder, &st);
    lstat(input_folder, &st);
  }
  int lock = -1;
  if (keeps('L')) {
    lock = open(lock_folder, O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (lock < 0 || flock(lock, LOCK_EX | LOCK_NB) != 0) return fail(lock_folder);
  }
  if (keeps('C')) scan(input_folder);

  if (lstat(input, &st) != 0) return fail(input);
  const int in = open(input, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (in < 0) return fail(input);
  if (keeps('E')) {
    signal(SIGIO, SIG_IGN);
    if (fcntl(in, F_SETLEASE, F_RDLCK) != 0) return fail("lease");
  }
  if (fstat(in, &st) != 0) return fail(input);
  if (keeps('E')) flock(in, LOCK_SH | LOCK_NB);
  char text[4096];
  if (st.st_size >= (off_t)sizeof text) {
    fprintf(stderr, "%s: made for inputs under 4 KiB\n", input);
    return 2;
  }
  if (read(in, text, (size_t)st.st_size + 1) != st.st_size || fstat(in, &st) != 0) {
    return fail(input);
  }

  char bytes[4096];
  const int pre = open(argv[2], O_RDONLY | O_CLOEXEC);
  const ssize_t length = pre < 0 ? -1 : read(pre, bytes, sizeof bytes);
  if (length < 0) return fail(argv[2]);
  close(pre);

  if (keeps('T')) scan(result_folder);
  if (keeps('R')) lstat(result, &st);
  unsigned long name = 0;
  if (getrandom(&name, sizeof name, GRND_NONBLOCK) != sizeof name) return fail("getrandom");
  snprintf(partial, sizeof partial, "%s.%06lx.partial", result, name & 0xffffff);
  const int out = open(partial, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (out < 0) return fail(partial);
  if (keeps('R')) fstat(out, &st);
  if (write(out, bytes, (size_t)length) != length || fdatasync(out) != 0 || close(out) != 0) {
    return fail(partial);
  }
  if (rename(partial, result) != 0) return fail(result);
  const int folder = open(result_folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || fsync(folder) != 0) return fail(result_folder);
  close(folder);

  if (keeps('D')) {
    snprintf(claim, sizeof claim, "%s.%06lx.claim", input, (name >> 24) & 0xffffff);
    if (renameat2(AT_FDCWD, input, AT_FDCWD, claim, RENAME_NOREPLACE) != 0) return fail(input);
    fstat(in, &st);
    lstat(claim, &st);
    if (keeps('E')) fcntl(in, F_GETLEASE);
    if (unlink(claim) != 0) return fail(claim);
  } else if (unlink(input) != 0) {
    return fail(input);
  }
  close(in);
  if (lock >= 0) close(lock);
  if (keeps('J')) {
    struct timespec ended;
    syscall(SYS_clock_gettime, CLOCK_MONOTONIC, &ended);
    log_record("io_promises");
  }
  return 0;
}
