#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "app/run_journal.h"

namespace quorvane {

// The system log of Linux, never waited for: a socket that is missing, full or unread misses the
// record, and the run goes on as if nothing had been said.
// - Where journald runs, the record goes to its own socket as fields (journalctl -t quorvane;
//   journald passes it on to a syslog daemon as it passes everything). journald stamps a record
//   as it arrives, so the run never loads the time zone to write a stamp of its own, which costs
//   a short run about as much as sending the record.
// - Elsewhere it goes to the syslog socket /dev/log (a syslog daemon: /var/log/syslog), stamped in
//   local time, as syslog(3) writes it.
class LinuxSystemLog final : public SystemLog {
 public:
  // The tag (the program's name) is asked for only when a log listens.
  explicit LinuxSystemLog(std::function<std::string()> tag,
                          std::string journal_path = "/run/systemd/journal/socket",
                          std::string syslog_path = "/dev/log")
      : tag_(std::move(tag)),
        journal_path_(std::move(journal_path)),
        syslog_path_(std::move(syslog_path)) {}
  bool Present() const override;
  void Record(RecordSeverity severity, int status, std::string_view text) override;

 private:
  std::function<std::string()> tag_;
  std::string journal_path_;
  std::string syslog_path_;
};

}  // namespace quorvane
