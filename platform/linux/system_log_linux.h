#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/run_journal.h"

namespace quorvane {

// The system log of Linux: a datagram to the syslog socket /dev/log, which journald (journalctl
// -t quorvane) or a syslog daemon (/var/log/syslog) reads. Never waits: a socket that is missing,
// full or unread misses the record, and the run goes on as if nothing had been said.
class LinuxSystemLog final : public SystemLog {
 public:
  // The tag (the program's name) is asked for only when a log listens.
  explicit LinuxSystemLog(std::function<std::string()> tag, std::string socket_path = "/dev/log")
      : tag_(std::move(tag)), socket_path_(std::move(socket_path)) {}
  void Record(RecordSeverity severity, int status, std::string_view text) override;

 private:
  std::function<std::string()> tag_;
  std::string socket_path_;
};

}  // namespace quorvane
