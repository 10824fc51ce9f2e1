#include "ui/quorvane_dlg.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "automation/batch.h"
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
  if (!DirectoryExists(files_, folders_.data_root)) files_.MakeDirectory(folders_.data_root);
  files_.MakeDirectory(folders_.result);  // fails harmlessly when it is there already
  if (!DirectoryExists(files_, folders_.temp)) files_.MakeDirectory(folders_.temp);

  const std::string settings_file = folders_.SettingsFile();
  if (FileExists(files_, settings_file)) {
    // A settings file that cannot be read parses like an empty one, which ticks both boxes.
    FileContents settings = ReadWholeFile(files_, settings_file);
    ParseSettingsText(settings.bytes, settings_lines_);
    ApplySettingsLines();
  }

  if (!DirectoryExists(files_, folders_.auto_file)) {
    if (environment_.start_mode == StartMode::kBatch) {
      AbandonAutomaticStart(RunOutcome::kInputMissing);
    } else {
      TakeInteractiveBranch();
    }
  } else if (environment_.start_mode == StartMode::kDialog) {
    OpenWithAutomaticModeOn();
  } else {
    TakeAutomaticBranch();
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

void CQuorvaneDlg::TakeAutomaticBranch() {
  // Two copies started on the same drop folder would race for one input file; the second one
  // leaves everything to the first and ends at once, silently. Only a lock held by another
  // running copy means that; when no lock can be had at all (a folder or a link in its place, no
  // temp folder) the run goes on without it rather than refuse every start for good. Copies
  // without the lock cannot tear each other's result: each writes a temporary file of its own.
  FileSystem::LockAttempt lock = files_.TryLock(folders_.LockFile());
  if (lock.held_elsewhere) {
    outcome_ = RunOutcome::kBusy;
    AbandonQuietly();
    return;
  }
  holds_lock_ = lock.lock != nullptr;
  const std::string input_file = folders_.InputFile();
  // An input that a killed run had claimed for deletion goes back under its name first: it was
  // never converted for sure, so it is converted now or at a later start.
  if (holds_lock_) RestoreClaimedFiles(files_, input_file);
  if (!FileExists(files_, input_file)) {
    AbandonAutomaticStart(RunOutcome::kInputMissing);
    return;
  }
  // The file may vanish between the two queries; then it is as missing as before.
  std::optional<FileStatus> status = files_.Status(input_file);
  if (!status || status->is_directory) {
    AbandonAutomaticStart(RunOutcome::kInputMissing);
    return;
  }
  if (status->size() == 0) {
    AbandonAutomaticStart(RunOutcome::kInputEmpty);
    return;
  }
  // A file past the read limit is refused whole: converting a part of it and deleting it all
  // would lose the rest.
  if (status->size() > kReadLimit) {
    AbandonAutomaticStart(RunOutcome::kInputTooLarge);
    return;
  }
  const FileSystem::ReadOutcome read = files_.ViewFile(input_file, kReadLimit, input_);
  if (read == FileSystem::ReadOutcome::kTooLarge) {
    AbandonAutomaticStart(RunOutcome::kInputTooLarge);
    return;
  }
  if (read == FileSystem::ReadOutcome::kCannotOpen && !FileExists(files_, input_file)) {
    // Taken by another copy running without the lock since it was found.
    AbandonAutomaticStart(RunOutcome::kInputMissing);
    return;
  }
  // Unreadable, still held open by the program that writes it, or emptied since the size query:
  // there is nothing to convert yet, and the file stays for the next start.
  if (read != FileSystem::ReadOutcome::kOk || input_->bytes().empty()) {
    AbandonAutomaticStart(RunOutcome::kInputUnreadable);
    return;
  }
  // The character check and the conversion are one pass over the bytes. The file stays held
  // (nobody can write it unseen) until the result is on disk and the file deleted, or the run
  // ends otherwise.
  batch_ = ConvertBatch(input_->bytes());
  input_characters_ = input_->bytes().size();
  input_characters_trimmed_ = TrimTrailingBreaks(input_->bytes()).size();
  if (batch_.not_binary) {
    AbandonAutomaticStart(RunOutcome::kInputNotBinary);
    return;
  }
  RunBatch(folders_.ResultFile(), input_file);
}

void CQuorvaneDlg::AbandonAutomaticStart(RunOutcome outcome) {
  view_->Show(kIdProgressText, false);
  view_->Show(kIdProgressBar, false);
  StopRun(outcome);
}

void CQuorvaneDlg::StopRun(RunOutcome outcome) {
  outcome_ = outcome;
  // The input stays as it is; its writer must not wait while a message waits for a person.
  if (input_) static_cast<void>(input_->Release());
  input_.reset();
  ReportIfAllowed(outcome);
  AbandonQuietly();
}

void CQuorvaneDlg::AbandonQuietly() {
  ResetProgressControls();
  view_->EndWaitCursor();
  EndDialog(kResultAutomatic);
}

void CQuorvaneDlg::ResetProgressControls() {
  view_->Enable(kIdExit, true);
  view_->SetText(kIdProgressText, "");
  view_->Show(kIdProgressText, false);
  view_->SetProgressPos(kIdProgressBar, 0);
  view_->Show(kIdProgressBar, false);
}

bool CQuorvaneDlg::MessagesAllowed() {
  if (environment_.start_mode == StartMode::kBatch) return false;
  return view_->IsChecked(kIdShowMessages) && !IsOff(settings_lines_.show_messages);
}

void CQuorvaneDlg::ReportIfAllowed(RunOutcome outcome) {
  const OutcomeMessage message = MessageFor(outcome);
  if (message.text != TextId::kNone && MessagesAllowed()) {
    view_->MessageBox(Text(message.text), message.icon);
  }
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
  // files stay, and the user learns that automatic mode stays with them.
  if (files_.RemoveDirectory(folders_.auto_file)) return;
  if (!DirectoryExists(files_, folders_.auto_file)) return;  // nothing to turn off
  std::optional<std::vector<DirectoryEntry>> entries = files_.ListDirectory(folders_.auto_file);
  if (entries && !entries->empty()) {
    view_->MessageBox(Text(TextId::kAutoFileKept), MessageIcon::kInformation);
  } else {
    view_->MessageBox(Text(TextId::kAutoFileNotRemoved), MessageIcon::kError);
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

void CQuorvaneDlg::RunBatch(std::string result_path, std::string /*input_path*/) {
  DialogView& view = *view_;
  if (!view.IsChecked(kIdAutoRun)) view.SetChecked(kIdAutoRun, true);
  view.Enable(kIdExit, false);
  view.Show(kIdProgressText, true);
  view.Show(kIdProgressBar, true);
  view.BeginWaitCursor();

  ProgressSchedule schedule{input_characters_};
  view.SetProgressRange(kIdProgressBar, schedule.SplitTotal());
  // One step per character of the text but its trailing line breaks, and the run stops here if a
  // line was too long.
  ShowSteps(0, input_characters_trimmed_, schedule.SplitTotal());
  if (batch_.line_too_long) {
    // Refused before anything is written: the input file stays for the next start.
    StopRun(RunOutcome::kLineTooLong);
    return;
  }

  schedule.lines = batch_.line_count;
  view.SetProgressPos(kIdProgressBar, 0);
  view.SetProgressRange(kIdProgressBar, schedule.ConvertTotal());
  ShowSteps(schedule.AfterLine(0), schedule.AfterLine(schedule.lines), schedule.ConvertTotal());
  ShowProgress(schedule.AfterAllLines(), schedule.ConvertTotal());

  // What killed runs left behind goes first; only the lock's holder may tell it from the
  // temporary file of a copy still at work.
  if (holds_lock_) RemoveLeftoverTemporaries(files_, result_path);
  // The input file is deleted only after the result is safely on disk, and only when it is still
  // the very file that was converted, unwritten since: one dropped in its place meanwhile waits
  // for the next start.
  if (!ReplaceFileSafely(files_, result_path, batch_.result)) {
    StopRun(RunOutcome::kResultNotWritten);
    return;
  }
  const DeleteOutcome removal = input_->Delete();
  input_.reset();
  ShowProgress(schedule.AfterDeletion(), schedule.ConvertTotal());
  view.Pause(100);
  // The drop folder stays either way: calling programs drop their next file into it.
  if (!keep_drop_folder_) view.SetChecked(kIdAutoRun, false);
  ShowProgress(schedule.Done(), schedule.ConvertTotal());
  ResetProgressControls();

  switch (removal) {
    case DeleteOutcome::kDeleted:
    case DeleteOutcome::kNotFound:
    case DeleteOutcome::kReplaced:
      outcome_ = RunOutcome::kOk;
      if (environment_.start_mode != StartMode::kBatch) view.Beep(MessageIcon::kInformation);
      break;
    case DeleteOutcome::kChanged:
      // Lines written after the file was read were not converted; the file stays whole.
      outcome_ = RunOutcome::kInputChanged;
      break;
    case DeleteOutcome::kFailed:
      // The next start would convert the same file again; say so rather than pretend success.
      outcome_ = RunOutcome::kInputNotDeleted;
      break;
  }
  ReportIfAllowed(outcome_);
  view.EndWaitCursor();
  EndDialog(kResultAutomatic);
}

}  // namespace quorvane
