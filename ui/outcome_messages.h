#pragma once

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
std::string CauseLine(const FileError& error);

// The message box text for an automatic run that ended so: the outcome's own text, then what the
// run's details add (its cause among them), each on a line of its own. Empty for an outcome with
// no message.
std::string OutcomeMessageText(RunOutcome outcome, const RunDetails& details);

// The outcome on one line, as the system's log keeps it and a calling program's line says it:
// the message box's text and what only a line says (the AutoFile folder that is missing, the line
// that refused the file); for the outcomes with no box, their own words.
std::string OutcomeLine(RunOutcome outcome, const RunDetails& details);

// The one line on standard error that tells a calling program how its run ended with `status`
// (always for --batch; see CQuorvaneApp::EndAutomaticRun): "quorvane: ", the outcome's line and
// the status. Empty for 0, and for the statuses whose message was written already (no Documents
// folder, not enough memory).
std::string StandardErrorLine(int status, const RunDetails& details = {});

}  // namespace quorvane
