#include "app/run_journal.h"

#include "automation/exit_status.h"
#include "ui/outcome_messages.h"
#include "ui/texts.h"

namespace quorvane {

std::string RecordText(const RunRecord& record) {
  return Format(
      TextId::kRunRecord,
      {record.batch ? "--batch" : Text(TextId::kPlainStart), std::to_string(record.status),
       OutcomeLine(static_cast<RunOutcome>(record.status), record.details),
       std::to_string(record.details.input_bytes), std::to_string(record.details.lines),
       std::to_string(record.milliseconds)});
}

RecordSeverity SeverityOf(int status) {
  switch (static_cast<RunOutcome>(status)) {
    case RunOutcome::kOk:
      return RecordSeverity::kInfo;
    case RunOutcome::kInputMissing:
    case RunOutcome::kBusy:
      return RecordSeverity::kNotice;
    default:
      return RecordSeverity::kError;
  }
}

}  // namespace quorvane
