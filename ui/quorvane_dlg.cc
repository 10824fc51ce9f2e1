#include "ui/quorvane_dlg.h"

#include <algorithm>
#include <utility>

#include "automation/batch.h"
#include "automation/progress.h"
#include "convert/binary_to_decimal.h"
#include "storage/file_primitives.h"
#include "ui/dialog_templates.h"
#include "ui/messages.h"

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
    {Notification::kClicked, kIdShowMessages, &CQuorvaneDlg::OnShowMessagesClicked},
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
    TakeInteractiveBranch();
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
  // leaves everything to the first and ends at once, silently.
  // Only a lock file that exists and is held means another copy; when the lock file cannot be
  // made at all (a folder in its place, no temp folder) the run goes on without it rather than
  // refuse every start for good.
  std::unique_ptr<FileLock> lock = files_.TryLock(folders_.LockFile());
  if (!lock && FileExists(files_, folders_.LockFile())) {
    outcome_ = RunOutcome::kBusy;
    AbandonQuietly();
    return;
  }
  const std::string input_file = folders_.InputFile();
  if (!FileExists(files_, input_file)) {
    AbandonAutomaticStart(RunOutcome::kInputMissing, messages::kInputMissing);
    return;
  }
  // The file may vanish between the two queries; then it is as missing as before.
  std::optional<FileStatus> status = files_.Status(input_file);
  if (!status || status->is_directory) {
    AbandonAutomaticStart(RunOutcome::kInputMissing, messages::kInputMissing);
    return;
  }
  if (status->size == 0) {
    AbandonAutomaticStart(RunOutcome::kInputEmpty, messages::kInputEmpty);
    return;
  }
  // A file past the read limit is refused whole: converting a part of it and deleting it all
  // would lose the rest.
  if (status->size > kReadLimit) {
    AbandonAutomaticStart(RunOutcome::kInputTooLarge, messages::kInputTooLarge);
    return;
  }
  FileContents input = ReadWholeFile(files_, input_file);
  if (input.outcome == FileSystem::ReadOutcome::kTooLarge) {
    AbandonAutomaticStart(RunOutcome::kInputTooLarge, messages::kInputTooLarge);
    return;
  }
  // Unreadable (still held by the program that writes it, say) or emptied since the size query:
  // there is nothing to convert yet, and the file stays for the next start.
  if (input.outcome == FileSystem::ReadOutcome::kCannotOpen || input.bytes.empty()) {
    AbandonAutomaticStart(RunOutcome::kInputUnreadable, messages::kInputEmpty);
    return;
  }
  if (!IsBatchText(input.bytes)) {
    AbandonAutomaticStart(RunOutcome::kInputNotBinary, messages::kInputNotBinary);
    return;
  }
  input_text_ = std::move(input.bytes);
  RunBatch(folders_.ResultFile(), input_file);
}

void CQuorvaneDlg::AbandonAutomaticStart(RunOutcome outcome, const char* message) {
  view_->Show(kIdProgressText, false);
  view_->Show(kIdProgressBar, false);
  StopRun(outcome, message);
}

void CQuorvaneDlg::StopRun(RunOutcome outcome, const char* message) {
  ReportIfAllowed(message, MessageIcon::kError);
  outcome_ = outcome;
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
  return view_->IsChecked(kIdShowMessages) && !IsOff(settings_lines_.show_messages);
}

void CQuorvaneDlg::ReportIfAllowed(const char* message, MessageIcon icon) {
  if (MessagesAllowed()) view_->MessageBox(message, icon);
}

void CQuorvaneDlg::ShowProgress(uint64_t position, uint64_t total) {
  view_->DrainMessages();
  view_->SetProgressPos(kIdProgressBar, position);
  view_->SetText(kIdProgressText, ProgressText(ProgressPercent(position, total)));
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
  if (IsBinaryText(view_->GetText(kIdInput))) return;
  view_->MessageBox(messages::kNotBinary, MessageIcon::kError);
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
      view_->MessageBox(messages::kAutoFileCreated, MessageIcon::kInformation);
    } else {
      view_->MessageBox(messages::kAutoFileNotCreated, MessageIcon::kError);
    }
    view_->Show(kIdShowMessages, true);
  } else {
    keep_drop_folder_ = false;
    RemoveDropFolder();
    view_->Show(kIdShowMessages, false);
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
    view_->MessageBox(messages::kAutoFileKept, MessageIcon::kInformation);
  } else {
    view_->MessageBox(messages::kAutoFileNotRemoved, MessageIcon::kError);
  }
}

void CQuorvaneDlg::OnExitClicked() {
  // The Documents folder is asked afresh: it may have moved while the dialog was open.
  const FolderTree folders(environment_.documents_folder());
  const bool may_write =
      DirectoryExists(files_, folders.temp) || files_.MakeDirectory(folders.temp);
  if (may_write) {
    const bool auto_run = view_->IsChecked(kIdAutoRun);
    // A hidden show-messages box saves "0" whatever its tick.
    const bool was_visible = view_->Show(kIdShowMessages, true);
    const bool show_messages = was_visible && view_->IsChecked(kIdShowMessages);
    WriteWholeFile(files_, folders.SettingsFile(), SettingsFileBytes(auto_run, show_messages));
  }
  EndDialog(kResultOk);
}

void CQuorvaneDlg::OnShowMessagesClicked() {
  // The box toggles its own tick; it is read only when the settings are saved.
}

void CQuorvaneDlg::RunBatch(std::string result_path, std::string input_path) {
  DialogView& view = *view_;
  if (!view.IsChecked(kIdAutoRun)) view.SetChecked(kIdAutoRun, true);
  view.Enable(kIdExit, false);
  view.Show(kIdProgressText, true);
  view.Show(kIdProgressBar, true);
  view.BeginWaitCursor();

  const uint64_t n = input_text_.size();
  const uint64_t split_total = 3 * (n + 1);
  view.SetProgressRange(kIdProgressBar, split_total);
  input_text_.resize(TrimTrailingBreaks(input_text_).size());

  // Splitting takes one step per character; the steps that would not change the picture are
  // passed over in one go.
  BatchConverter converter;
  converter.Reserve(input_text_.size());
  ProgressThrottle split_progress(split_total);
  const std::string_view text = input_text_;
  for (uint64_t i = 0; i < text.size();) {
    const uint64_t due = std::clamp<uint64_t>(split_progress.next_due(), i, text.size());
    converter.Feed(text.substr(i, due - i));
    if (due == text.size()) break;
    converter.Feed(text.substr(due, 1));
    if (split_progress.Take(due)) ShowProgress(due, split_total);
    i = due + 1;
  }
  BatchConverter::Outcome batch = converter.Finish();

  if (batch.line_too_long) {
    // Refused before anything is written: the input file stays for the next start.
    StopRun(RunOutcome::kLineTooLong, messages::kLineTooLong);
    return;
  }

  const uint64_t k = batch.line_count;
  const uint64_t total = n + k + 4;
  view.SetProgressPos(kIdProgressBar, 0);
  view.SetProgressRange(kIdProgressBar, total);
  ProgressThrottle convert_progress(total);
  for (uint64_t position = n + 1; position <= n + k; ++position) {
    position = std::max(position, convert_progress.next_due());
    if (position > n + k) break;
    if (convert_progress.Take(position)) ShowProgress(position, total);
  }
  ShowProgress(n + k + 2, total);

  // The input file is deleted only after the result is safely on disk.
  if (!ReplaceFileSafely(files_, result_path, batch.result)) {
    StopRun(RunOutcome::kResultNotWritten, messages::kResultNotWritten);
    return;
  }
  const bool input_deleted = DeleteFileForced(files_, input_path);
  ShowProgress(n + k + 3, total);
  view.Pause(100);
  // The drop folder stays either way: calling programs drop their next file into it.
  if (!keep_drop_folder_) view.SetChecked(kIdAutoRun, false);
  ShowProgress(total, total);
  ResetProgressControls();

  if (input_deleted) {
    view.Beep(MessageIcon::kInformation);
    ReportIfAllowed(messages::kCompleted, MessageIcon::kInformation);
  } else {
    // The next start would convert the same file again; say so rather than pretend success.
    outcome_ = RunOutcome::kInputNotDeleted;
    ReportIfAllowed(messages::kInputNotDeleted, MessageIcon::kError);
  }
  view.EndWaitCursor();
  EndDialog(kResultAutomatic);
}

}  // namespace quorvane
