#pragma once

#include "automation/run_outcome.h"
#include "ui/dialog_view.h"
#include "ui/messages.h"

namespace quorvane {

// What an automatic run that ended so reports in a message box, where the settings allow
// messages. `text` is null for the outcomes that the exit status alone tells.
struct OutcomeMessage {
  const char* text;
  MessageIcon icon;
};

constexpr OutcomeMessage MessageFor(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kOk:
      return {messages::kCompleted, MessageIcon::kInformation};
    case RunOutcome::kInputMissing:
      return {messages::kInputMissing, MessageIcon::kError};
    case RunOutcome::kInputEmpty:
    case RunOutcome::kInputUnreadable:  // nothing that could be read: as good as empty
      return {messages::kInputEmpty, MessageIcon::kError};
    case RunOutcome::kInputNotBinary:
      return {messages::kInputNotBinary, MessageIcon::kError};
    case RunOutcome::kInputTooLarge:
      return {messages::kInputTooLarge, MessageIcon::kError};
    case RunOutcome::kLineTooLong:
      return {messages::kLineTooLong, MessageIcon::kError};
    case RunOutcome::kResultNotWritten:
      return {messages::kResultNotWritten, MessageIcon::kError};
    case RunOutcome::kInputNotDeleted:
      return {messages::kInputNotDeleted, MessageIcon::kError};
    case RunOutcome::kInputChanged:
      return {messages::kInputChanged, MessageIcon::kError};
    case RunOutcome::kBusy:  // another copy is at work; this one has nothing to say
    case RunOutcome::kNoDialog:
    case RunOutcome::kUsageError:
    case RunOutcome::kOutOfMemory:
      break;
  }
  return {nullptr, MessageIcon::kError};
}

}  // namespace quorvane
