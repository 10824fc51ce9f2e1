#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/drop_folder_run.h"

namespace quorvane {

// How much a record in the system's log asks an administrator to look.
enum class RecordSeverity { kInfo, kNotice, kError };

// The system's log (on Linux the syslog socket, on Windows the Application event log). Recording
// never waits and never fails the run: a log that does not answer simply misses the record.
class SystemLog {
 public:
  virtual ~SystemLog() = default;
  // False where no log is there to take a record (as on build machines and in containers): the
  // run then does not even compose one.
  virtual bool Present() const { return true; }
  virtual void Record(RecordSeverity severity, int status, std::string_view text) = 0;
};

// One automatic run, as the log keeps it.
struct RunRecord {
  bool batch = false;  // --batch, or a start without options
  int status = 0;
  RunDetails details;
  uint64_t milliseconds = 0;  // from the start of the run to its end
};

// The record's one line: the start, the status and its meaning, the input's size and lines, the
// time taken and, for a failure, its cause and where the input was left.
std::string RecordText(const RunRecord& record);
// Information for a conversion, a notice for the endings a caller expects now and then (nothing
// to convert, another copy at work), an error for the rest.
RecordSeverity SeverityOf(int status);

}  // namespace quorvane
