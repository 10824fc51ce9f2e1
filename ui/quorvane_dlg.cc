#include "ui/quorvane_dlg.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "automation/drop_folder_run.h"
#include "automation/progress.h"
#include "convert/binary_to_decimal.h"
#include "storage/file_primitives.h"
#include "ui/dialog_templates.h"
#include "ui/texts.h"

namespace quorvane {
namespace {

struct CommandEntry {
  Notification code;
  int id;
  void (CQuorvaneDlg::*handler)();
};

// The command table: which handler a control's notification reaches.
constexpr CommandEntry kCommandTable[] = {
    {Notification::kClicked, kIdVersion, &CQuorvaneDlg::OnVersionClicked},
    {Notification::kChanged, kIdInput, &CQuorvaneDlg::OnInputChanged},
    {Notification::kClicked, kIdConvert, &CQuorvaneDlg::OnConvertClicked},
    {Notification::kClicked, kIdAutoRun, &CQuorvaneDlg::OnAutoRunClicked},
    {Notification::kClicked, kIdExit, &CQuorvaneDlg::OnExitClicked},
    // The show-messages box toggles its own tick, which is read only when the settings are saved
    // or a run reports: its click needs no handler.
};

}  // namespace

CQuorvaneDlg::CQuorvaneDlg(DialogEnvironment environment)
    : environment_(std::move(environment)), files_(*environment_.files) {}

bool CQuorvaneDlg::OnCommand(int id, Notification code) {
  for (const CommandEntry& entry : kCommandTable) {
    if (entry.id == id && entry.code == code) {
      (this->*entry.handler)();
      return true;
    }
  }
  if (id == kIdCancel) {  // a close request from the window system: nothing is saved
    EndDialog(kResultCancel);
    return true;
  }
  return false;
}

bool CQuorvaneDlg::OnInitDialog() {
  view_->SetIcons();
  if (!environment_.executable_path.empty()) {
    view_->SetText(kIdFullPath, environment_.executable_path);
  }

  folders_ = FolderTree(environment_.documents_folder());
  if (folders_.documents.empty()) {
    // Without a Documents folder there is no drop folder and no settings; nothing is made in its
    // place (the suffixes alone would name folders at the root).
    TakeInteractiveBranch();
    return true;
  }
  MakeDataFolders(files_, folders_);

  const std::string settings_file = folders_.SettingsFile();
  if (FileExists(files_, settings_file)) {
    // A settings file that cannot be read parses like an empty one, which ticks both boxes.
    FileContents settings = ReadWholeFile(files_, settings_file);
    ParseSettingsText(settings.bytes, settings_lines_);
    ApplySettingsLines();
  }

  if (!DirectoryExists(files_, folders_.auto_file)) {
    TakeInteractiveBranch();
  } else if (environment_.start_mode == StartMode::kDialog) {
    OpenWithAutomaticModeOn();
  } else {
    RunBatch();
  }
  return true;
}

void CQuorvaneDlg::TakeInteractiveBranch() {
  view_->Show(kIdProgressText, false);
  view_->Show(kIdProgressBar, false);
  if (view_->IsChecked(kIdAutoRun)) view_->SetChecked(kIdAutoRun, false);
  // The show-messages box keeps its tick, hidden, until the user ticks auto-run again.
  view_->Show(kIdShowMessages, false);
}

void CQuorvaneDlg::OpenWithAutomaticModeOn() {
  // A person asked for the dialog although the drop folder is there: the boxes show automatic
  // mode as on, with the messages tick from the settings file, and whatever waits in the folder
  // is left for the next start without arguments.
  view_->Show(kIdProgressText, false);
  view_->Show(kIdProgressBar, false);
  if (!view_->IsChecked(kIdAutoRun)) view_->SetChecked(kIdAutoRun, true);
  view_->Show(kIdShowMessages, true);
}

void CQuorvaneDlg::EndRun(RunOutcome outcome) {
  outcome_ = outcome;
  DialogView& view = *view_;
  // A run that wrote its result reports after the controls are back at rest, with the beep for
  // success; one that stopped reports first, then puts them back.
  const bool written = outcome == RunOutcome::kOk || outcome == RunOutcome::kInputNotDeleted ||
                       outcome == RunOutcome::kInputChanged;
  if (!run_begun_) {
    // Stopped before the progress was ever shown: it stays out of sight throughout.
    view.Show(kIdProgressText, false);
    view.Show(kIdProgressBar, false);
  }
  if (!written) ReportIfAllowed(outcome);
  view.Enable(kIdExit, true);
  view.SetText(kIdProgressText, "");
  view.Show(kIdProgressText, false);
  view.SetProgressPos(kIdProgressBar, 0);
  view.Show(kIdProgressBar, false);
  if (written) {
    if (outcome == RunOutcome::kOk) view.Beep(MessageIcon::kInformation);
    ReportIfAllowed(outcome);
  }
  view.EndWaitCursor();
  EndDialog(kResultAutomatic);
}

bool CQuorvaneDlg::MessagesAllowed() {
  return view_->IsChecked(kIdShowMessages) && !IsOff(settings_lines_.show_messages);
}

void CQuorvaneDlg::ReportIfAllowed(RunOutcome outcome) {
  const OutcomeMessage message = MessageFor(outcome);
  if (message.text == TextId::kNone || !MessagesAllowed()) return;
  // What the run adds (where its input was left, say) follows on lines of its own.
  view_->MessageBox(OutcomeMessageText(outcome, run_details_), message.icon);
}

void CQuorvaneDlg::ShowProgress(uint64_t position, uint64_t total) {
  view_->DrainMessages();
  view_->SetProgressPos(kIdProgressBar, position);
  view_->SetText(kIdProgressText, ProgressLabel(ProgressPercent(position, total)));
}

void CQuorvaneDlg::ShowSteps(uint64_t from, uint64_t to, uint64_t total) {
  // Steps that would not change the picture are passed over in one go, and of the rest only as
  // many are shown as anyone could see; the last one always is.
  ProgressThrottle throttle(total);
  for (uint64_t position = from; position < to; ++position) {
    position = std::min(std::max(position, throttle.next_due()), to - 1);
    if (throttle.Take(position, NowMs(), position == to - 1)) ShowProgress(position, total);
  }
}

uint64_t CQuorvaneDlg::NowMs() const {
  if (environment_.clock_ms) return environment_.clock_ms();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

void CQuorvaneDlg::EndDialog(int result) {
  end_result_ = result;
  view_->EndDialog(result);
}

void CQuorvaneDlg::ApplySettingsLines() {
  if (IsOff(settings_lines_.auto_run)) {
    view_->SetChecked(kIdAutoRun, false);
    view_->Show(kIdShowMessages, false);
    return;
  }
  view_->SetChecked(kIdAutoRun, true);
  view_->Show(kIdShowMessages, true);
  view_->SetChecked(kIdShowMessages, !IsOff(settings_lines_.show_messages));
}

void CQuorvaneDlg::OnVersionClicked() { view_->ShowVersionDialog(); }

void CQuorvaneDlg::OnInputChanged() {
  // The result belongs to the text it was converted from; whatever the change (typing, pasting,
  // the refusal below), it no longer stands beside the field's new text.
  view_->SetText(kIdOutput, "");
  if (IsBinaryText(view_->GetText(kIdInput))) return;
  view_->MessageBox(Text(TextId::kNotBinary), MessageIcon::kError);
  view_->SetText(kIdInput, "");
}

void CQuorvaneDlg::OnConvertClicked() {
  view_->SetText(kIdOutput, "");
  view_->SetText(kIdOutput, BinaryToDecimal(view_->GetText(kIdInput)));
}

void CQuorvaneDlg::OnAutoRunClicked() {
  // The box has already toggled itself when its click arrives.
  if (view_->IsChecked(kIdAutoRun)) {
    keep_drop_folder_ = true;
    if (files_.MakeDirectory(folders_.auto_file)) {
      view_->MessageBox(Text(TextId::kAutoFileCreated), MessageIcon::kInformation);
    } else {
      view_->MessageBox(Text(TextId::kAutoFileNotCreated), MessageIcon::kError);
    }
    view_->Show(kIdShowMessages, true);
  } else {
    RemoveDropFolder();
    // A folder that stayed keeps automatic mode on, and the box has been ticked again to say so;
    // the rest of the dialog follows the box, so that 終了 saves what the folder means.
    const bool still_on = view_->IsChecked(kIdAutoRun);
    keep_drop_folder_ = still_on;
    view_->Show(kIdShowMessages, still_on);
  }
}

void CQuorvaneDlg::RemoveDropFolder() {
  // Automatic mode is on for as long as the folder exists, so unticking takes it away; but only
  // an empty one goes (a folder with anything in it refuses to be removed). A calling program's
  // files stay, and the user learns that automatic mode stays with them, and where they are.
  LastFileError() = {};
  if (files_.RemoveDirectory(folders_.auto_file)) return;
  const FileError cause = LastFileError();
  if (!DirectoryExists(files_, folders_.auto_file)) return;  // nothing to turn off
  const std::string where = "\r\n" + Format(TextId::kDropFolderAt, {folders_.auto_file});
  std::optional<std::vector<DirectoryEntry>> entries = files_.ListDirectory(folders_.auto_file);
  if (entries && !entries->empty()) {
    view_->MessageBox(Text(TextId::kAutoFileKept) + where, MessageIcon::kInformation);
  } else {
    const std::string why = cause ? "\r\n" + CauseLine(cause) : "";
    view_->MessageBox(Text(TextId::kAutoFileNotRemoved) + where + why, MessageIcon::kError);
  }
  // The message says automatic mode stays on; the box must not say otherwise.
  view_->SetChecked(kIdAutoRun, true);
}

void CQuorvaneDlg::OnExitClicked() {
  // The Documents folder is asked afresh: it may have moved while the dialog was open.
  const FolderTree folders(environment_.documents_folder());
  const bool may_write = !folders.documents.empty() && (DirectoryExists(files_, folders.temp) ||
                                                        files_.MakeDirectory(folders.temp));
  if (may_write) {
    const bool auto_run = view_->IsChecked(kIdAutoRun);
    // A hidden show-messages box saves "0" whatever its tick.
    const bool show_messages =
        view_->IsVisible(kIdShowMessages) && view_->IsChecked(kIdShowMessages);
    // Whole or not at all: a failure leaves the previous settings as they were.
    static_cast<void>(ReplaceFileSafely(files_, folders.SettingsFile(),
                                        SettingsFileBytes(auto_run, show_messages)));
  }
  EndDialog(kResultOk);
}

void CQuorvaneDlg::RunBatch() {
  run_begun_ = false;
  // The run lets go of the input before anything here waits on a person.
  run_details_ = {};
  EndRun(RunDropFolder(files_, folders_, *this, &run_details_));
}

void CQuorvaneDlg::Begin(uint64_t total) {
  run_begun_ = true;
  DialogView& view = *view_;
  if (!view.IsChecked(kIdAutoRun)) view.SetChecked(kIdAutoRun, true);
  view.Enable(kIdExit, false);
  view.Show(kIdProgressText, true);
  view.Show(kIdProgressBar, true);
  view.BeginWaitCursor();
  view.SetProgressRange(kIdProgressBar, total);
}

void CQuorvaneDlg::Steps(uint64_t from, uint64_t to, uint64_t total) { ShowSteps(from, to, total); }

void CQuorvaneDlg::Restart(uint64_t total) {
  view_->SetProgressPos(kIdProgressBar, 0);
  view_->SetProgressRange(kIdProgressBar, total);
}

void CQuorvaneDlg::Step(uint64_t position, uint64_t total) { ShowProgress(position, total); }

void CQuorvaneDlg::Settle() {
  view_->Pause(100);
  // The drop folder stays either way: calling programs drop their next file into it.
  if (!keep_drop_folder_) view_->SetChecked(kIdAutoRun, false);
}

}  // namespace quorvane
