#include "platform/linux/system_log_linux.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

namespace quorvane {
namespace {

// The facility of user programs (1) and the syslog severities of each kind of record.
constexpr int kUserFacility = 1;
int SyslogSeverity(RecordSeverity severity) {
  switch (severity) {
    case RecordSeverity::kInfo:
      return 6;
    case RecordSeverity::kNotice:
      return 5;
    case RecordSeverity::kError:
      return 3;
  }
  return 3;
}

}  // namespace

void LinuxSystemLog::Record(RecordSeverity severity, int, std::string_view text) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (socket_path_.size() >= sizeof address.sun_path) return;
  std::memcpy(address.sun_path, socket_path_.data(), socket_path_.size());
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  // Connected first: where no log listens, the record is not even written out.
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return;
  }
  // "<priority>Mmm dd hh:mm:ss tag[pid]: text", as syslog(3) writes it, the time local.
  // The month in English whatever the locale, as the format wants it.
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char stamp[32] = "";
  const std::time_t now = std::time(nullptr);
  std::tm local = {};
  if (::localtime_r(&now, &local) != nullptr) {
    std::snprintf(stamp, sizeof stamp, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon % 12],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  }
  const std::string message = "<" + std::to_string(kUserFacility * 8 + SyslogSeverity(severity)) +
                              ">" + stamp + " " + tag_() + "[" + std::to_string(::getpid()) +
                              "]: " + std::string(text);
  // A reader that has fallen behind fills the socket: then the record is dropped, never waited
  // for.
  static_cast<void>(::send(fd, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL));
  ::close(fd);
}

}  // namespace quorvane
