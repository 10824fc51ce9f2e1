#pragma once

#include <string_view>

#include "app/run_journal.h"

namespace quorvane::win32 {

// The Application event log, source "Quorvane" (the MSI registers the source, with the message
// table in Quorvane.exe; without it, Event Viewer still shows the record's text). A log that
// cannot be reached misses the record; the run goes on as if nothing had been said.
class Win32EventLog final : public SystemLog {
 public:
  void Record(RecordSeverity severity, int status, std::string_view text) override;
};

}  // namespace quorvane::win32
