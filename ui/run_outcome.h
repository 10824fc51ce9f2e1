#pragma once

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

}  // namespace quorvane
