#include "app/run_journal.h"

#include "automation/exit_status.h"
#include "ui/outcome_messages.h"
#include "ui/texts.h"

namespace quorvane {
namespace {

// The status's meaning, on one line.
std::string Meaning(const RunRecord& record) {
  const auto outcome = static_cast<RunOutcome>(record.status);
  std::string text;
  switch (outcome) {
    case RunOutcome::kBusy:
      text = Text(TextId::kBusyLine);
      break;
    case RunOutcome::kOutOfMemory:
      text = Text(TextId::kOutOfMemory);
      break;
    case RunOutcome::kNoDocumentsFolder:  // the one meaning of 1 an automatic run can have
      text = Text(TextId::kNoDocumentsFolder);
      break;
    default:
      text = OutcomeLineText(outcome, record.details);
      break;
  }
  std::string line;
  for (char c : text) {
    if (c != '\r') line.push_back(c == '\n' ? ' ' : c);
  }
  return line;
}

}  // namespace

std::string RecordText(const RunRecord& record) {
  return Format(
      TextId::kRunRecord,
      {record.batch ? "--batch" : Text(TextId::kPlainStart), std::to_string(record.status),
       Meaning(record), std::to_string(record.details.input_bytes),
       std::to_string(record.details.lines), std::to_string(record.milliseconds)});
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
