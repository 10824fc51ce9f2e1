#include "storage/descriptor_io_posix.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace quorvane {

void AwaitReady(int fd, short events) {
  pollfd ready = {fd, events, 0};
  while (::poll(&ready, 1, -1) < 0 && errno == EINTR) {
  }
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      AwaitReady(fd, POLLOUT);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

}  // namespace quorvane
