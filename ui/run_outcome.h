#pragma once

#include <string>

#include "automation/drop_folder_run.h"
#include "automation/run_outcome.h"
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
    case RunOutcome::kBusy:  // another copy is at work; this one has nothing to say
    case RunOutcome::kNoDialog:
    case RunOutcome::kUsageError:
    case RunOutcome::kOutOfMemory:
      break;
  }
  return {TextId::kNone, MessageIcon::kError};
}

// The message box text for an automatic run that ended so: the outcome's own text, then what the
// run's details add, each on a line of its own. Empty for an outcome with no message.
inline std::string OutcomeMessageText(RunOutcome outcome, const RunDetails& details) {
  const TextId id = MessageFor(outcome).text;
  if (id == TextId::kNone) return {};
  std::string text = Text(id);
  if (details.result_in_place) text += "\r\n" + Text(TextId::kResultNotDurable);
  if (!details.input_left_under.empty()) {
    text += "\r\n" + Format(TextId::kInputLeftUnder, {details.input_left_under});
  }
  return text;
}

}  // namespace quorvane
