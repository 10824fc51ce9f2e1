#include "ui/outcome_messages.h"

#include <iterator>

namespace quorvane {

std::string CauseLine(const FileError& error) {
  if (!error) return {};
  static constexpr TextId kSteps[] = {
      TextId::kStepStatus,     TextId::kStepOpen,        TextId::kStepRead,  TextId::kStepCreate,
      TextId::kStepWrite,      TextId::kStepFlush,       TextId::kStepClose, TextId::kStepRename,
      TextId::kStepSyncFolder, TextId::kStepDelete,      TextId::kStepList,  TextId::kStepLock,
      TextId::kStepMakeFolder, TextId::kStepRemoveFolder};
  static_assert(std::size(kSteps) == static_cast<size_t>(FileOperation::kRemoveFolder) + 1);
  std::string why;
  switch (error.failure) {
    case FileFailure::kSystem:
      why = SystemErrorText(error.code);
      break;
    case FileFailure::kHeldForWriting:
      why = Text(TextId::kHeldForWriting);
      break;
    case FileFailure::kChangedWhileRead:
      why = Text(TextId::kChangedWhileRead);
      break;
    case FileFailure::kNotAPlainFile:
      why = Text(TextId::kNotAPlainFile);
      break;
    case FileFailure::kMarkedReadOnly:
      why = Text(TextId::kMarkedReadOnly);
      break;
  }
  return Format(TextId::kCause,
                {Text(kSteps[static_cast<size_t>(error.operation)]), error.path, why});
}

std::string OutcomeMessageText(RunOutcome outcome, const RunDetails& details) {
  const TextId id = MessageFor(outcome).text;
  if (id == TextId::kNone) return {};
  std::string text = Text(id);
  if (details.result_in_place) text += "\r\n" + Text(TextId::kResultNotDurable);
  if (!details.input_left_under.empty()) {
    text += "\r\n" + Format(TextId::kInputLeftUnder, {details.input_left_under});
  }
  // Only the outcomes whose texts are Quorvane's own carry a cause; the input checks (10, 11, 13)
  // and the completion message keep their words exactly.
  const bool own_text =
      outcome == RunOutcome::kInputUnreadable || outcome == RunOutcome::kResultNotWritten ||
      outcome == RunOutcome::kInputNotDeleted || outcome == RunOutcome::kInputChanged;
  if (own_text && details.cause) text += "\r\n" + CauseLine(details.cause);
  return text;
}

std::string OutcomeLine(RunOutcome outcome, const RunDetails& details) {
  switch (outcome) {
    case RunOutcome::kBusy:
      return OneLine(Text(TextId::kBusyLine));
    case RunOutcome::kOutOfMemory:
      return OneLine(Text(TextId::kOutOfMemory));
    case RunOutcome::kNoDocumentsFolder:  // the one meaning of 1 that a run of the drop folder has
      return OneLine(Text(TextId::kNoDocumentsFolder));
    default:
      break;
  }
  std::string text = OutcomeMessageText(outcome, details);
  if (!details.missing_drop_folder.empty()) {
    text += "\n" + Format(TextId::kNoDropFolder, {details.missing_drop_folder});
  }
  if (details.fault_line != 0) {
    text += "\n" + Format(TextId::kAtLine, {std::to_string(details.fault_line)});
  }
  return OneLine(text);
}

std::string StandardErrorLine(int status, const RunDetails& details) {
  const auto outcome = static_cast<RunOutcome>(status);
  // No Documents folder is said at start-up, with its cause; a memory shortage where it was met.
  if (outcome == RunOutcome::kOk || outcome == RunOutcome::kNoDocumentsFolder ||
      outcome == RunOutcome::kOutOfMemory) {
    return {};
  }
  return "quorvane: " + OutcomeLine(outcome, details) +
         Format(TextId::kStatusSuffix, {std::to_string(status)}) + "\n";
}

}  // namespace quorvane
