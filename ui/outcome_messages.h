#pragma once

#include <iterator>
#include <string>

#include "automation/drop_folder_run.h"
#include "automation/exit_status.h"
#include "ui/dialog_view.h"
#include "ui/texts.h"

namespace quorvane {

// What an automatic run that ended so reports in a message box, where the settings allow
// messages. `text` is TextId::kNone for the outcomes that the exit status alone tells.
struct OutcomeMessage {
  TextId text;
  MessageIcon icon;
};

constexpr OutcomeMessage MessageFor(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kOk:
      return {TextId::kCompleted, MessageIcon::kInformation};
    case RunOutcome::kInputMissing:
      return {TextId::kInputMissing, MessageIcon::kError};
    case RunOutcome::kInputEmpty:
      return {TextId::kInputEmpty, MessageIcon::kError};
    case RunOutcome::kInputUnreadable:
      return {TextId::kInputUnreadable, MessageIcon::kError};
    case RunOutcome::kInputNotBinary:
      return {TextId::kInputNotBinary, MessageIcon::kError};
    case RunOutcome::kInputTooLarge:
      return {TextId::kInputTooLarge, MessageIcon::kError};
    case RunOutcome::kLineTooLong:
      return {TextId::kLineTooLong, MessageIcon::kError};
    case RunOutcome::kResultNotWritten:
      return {TextId::kResultNotWritten, MessageIcon::kError};
    case RunOutcome::kInputNotDeleted:
      return {TextId::kInputNotDeleted, MessageIcon::kError};
    case RunOutcome::kInputChanged:
      return {TextId::kInputChanged, MessageIcon::kError};
    case RunOutcome::kBusy:      // another copy is at work; this one has nothing to say
    case RunOutcome::kNoDialog:  // 1, whichever it means: said where it happened
    case RunOutcome::kUsageError:
    case RunOutcome::kOutOfMemory:
      break;
  }
  return {TextId::kNone, MessageIcon::kError};
}

// One line that says which file-system step failed on which path, and why; empty when none did.
inline std::string CauseLine(const FileError& error) {
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

// The message box text for an automatic run that ended so: the outcome's own text, then what the
// run's details add (its cause among them), each on a line of its own. Empty for an outcome with
// no message.
inline std::string OutcomeMessageText(RunOutcome outcome, const RunDetails& details) {
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

// The same for the one line that tells a calling program (its --batch line) and the system's log:
// the message box's text, then what only they say (the AutoFile folder that is missing, the line
// that refused the file), the line breaks become spaces.
inline std::string OutcomeLineText(RunOutcome outcome, const RunDetails& details) {
  std::string text = OutcomeMessageText(outcome, details);
  if (!details.missing_drop_folder.empty()) {
    text += "\n" + Format(TextId::kNoDropFolder, {details.missing_drop_folder});
  }
  if (details.fault_line != 0) {
    text += "\n" + Format(TextId::kAtLine, {std::to_string(details.fault_line)});
  }
  std::string line;
  for (char c : text) {
    if (c != '\r') line.push_back(c == '\n' ? ' ' : c);
  }
  return line;
}

}  // namespace quorvane
