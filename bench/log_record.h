/* One record offered to the system log, as every automatic run of quorvane offers it: where
 * neither journald's socket nor /dev/log is there (as on build machines), looking for them is
 * all; else one datagram of a record's size sent to journald's socket, or to /dev/log where
 * nothing listens there, never waited for. The floors that price the record include it. */
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

/* IDENTIFIER names the sender, so that compare.sh's reader can tell quorvane's records from the
 * floors'. */
static void log_record(const char* identifier) {
  static const char* const sockets[] = {"/run/systemd/journal/socket", "/dev/log"};
  if (syscall(SYS_faccessat, AT_FDCWD, sockets[0], F_OK) != 0 &&
      syscall(SYS_faccessat, AT_FDCWD, sockets[1], F_OK) != 0) {
    return;
  }
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  /* As long as quorvane's record of a 5-byte run. */
  char record[200];
  const int length = snprintf(
      record, sizeof record,
      "PRIORITY=6\nSYSLOG_FACILITY=1\nSYSLOG_IDENTIFIER=%s\nMESSAGE=%-120s\n", identifier, "0");
  for (int i = 0; i < 2; ++i) {
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    strcpy(address.sun_path, sockets[i]);
    if (sendto(fd, record, (size_t)length, MSG_DONTWAIT | MSG_NOSIGNAL,
               (const struct sockaddr*)&address, sizeof address) >= 0 ||
        errno == EAGAIN) {
      break;
    }
  }
  close(fd);
}
