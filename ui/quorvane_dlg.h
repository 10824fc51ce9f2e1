#pragma once

#include <functional>
#include <optional>
#include <string>

#include "automation/drop_folder_run.h"
#include "storage/file_system.h"
#include "storage/folder_tree.h"
#include "storage/settings.h"
#include "ui/dialog_view.h"
#include "ui/outcome_messages.h"

namespace quorvane {

// Dialog results.
inline constexpr int kResultOk = 1;
inline constexpr int kResultCancel = 2;
inline constexpr int kResultAutomatic = -1;

// How the program was started.
enum class StartMode {
  // No arguments, as calling programs start it: automatic while the AutoFile folder exists.
  kDropFolderDecides,
  // A person's start (--dialog): the dialog opens whatever the AutoFile folder holds.
  kDialog,
  // A calling program's run (--batch): the drop folder only, and nothing that waits on a person.
  // It needs no dialog, and never reaches one (CQuorvaneApp runs the drop folder itself).
  kBatch,
};

// What the dialog needs from the world around it.
struct DialogEnvironment {
  FileSystem* files = nullptr;
  // Asked afresh each time the dialog needs the Documents folder.
  std::function<std::string()> documents_folder;
  // The program's own full path; empty when it cannot be found.
  std::string executable_path;
  // A steady clock in milliseconds, for pacing the progress shown; the system's when empty.
  std::function<uint64_t()> clock_ms;
  StartMode start_mode = StartMode::kDropFolderDecides;
};

// The main dialog: its start-up, its command handlers and the drop-folder run it shows, written
// against a DialogView so that any front end (or a test) can show it.
class CQuorvaneDlg final : public DialogCommands, private RunProgress {
 public:
  explicit CQuorvaneDlg(DialogEnvironment environment);

  // The view the dialog works through; a front end may take over from the headless view once the
  // dialog has to be shown.
  void AttachView(DialogView& view) override { view_ = &view; }

  // Runs when the controls exist and before the dialog is first shown: fills in the full path,
  // makes the folders, restores the check boxes, and either leaves the dialog for interactive use
  // or runs the drop folder's file and ends the dialog. Returns true: the first control takes the
  // focus.
  bool OnInitDialog();

  // Routes a control notification to its handler, as the command table says. A close request
  // (kIdCancel) ends the dialog with kResultCancel. False when nothing handles it.
  bool OnCommand(int id, Notification code) override;

  void OnVersionClicked();
  void OnInputChanged();
  void OnConvertClicked();
  void OnAutoRunClicked();
  void OnExitClicked();

  // Runs the drop folder's file (converts it into the result file and deletes it), showing its
  // progress and outcome, and ends the dialog.
  void RunBatch();

  // The result the dialog ended with, once it has ended.
  std::optional<int> end_result() const { return end_result_; }
  RunOutcome outcome() const { return outcome_; }
  // What the drop-folder run had to say beside its outcome (where its input was left, say).
  const RunDetails& run_details() const { return run_details_; }
  const SettingsLines& settings_lines() const { return settings_lines_; }
  bool keep_drop_folder() const { return keep_drop_folder_; }
  const FolderTree& folders() const { return folders_; }

 private:
  // Sets the two check boxes from the settings lines.
  void ApplySettingsLines();
  void TakeInteractiveBranch();
  void OpenWithAutomaticModeOn();
  void RemoveDropFolder();
  // Ends an automatic start, however its run went: the controls back at rest, the outcome's
  // message where allowed (and the beep for success), the dialog ended.
  void EndRun(RunOutcome outcome);
  // Shows the message of an automatic run's outcome when the show-messages box is ticked and the
  // settings file did not switch messages off.
  void ReportIfAllowed(RunOutcome outcome);
  bool MessagesAllowed();
  void ShowProgress(uint64_t position, uint64_t total);
  // Shows the progress steps from `from` up to before `to`, as many as anyone could see.
  void ShowSteps(uint64_t from, uint64_t to, uint64_t total);
  uint64_t NowMs() const;
  // What the drop-folder run reports, shown on the progress controls.
  void Begin(uint64_t total) override;
  void Steps(uint64_t from, uint64_t to, uint64_t total) override;
  void Restart(uint64_t total) override;
  void Step(uint64_t position, uint64_t total) override;
  void Settle() override;
  void EndDialog(int result);

  DialogEnvironment environment_;
  FileSystem& files_;
  DialogView* view_ = nullptr;
  FolderTree folders_{""};
  SettingsLines settings_lines_;
  bool keep_drop_folder_ = false;
  bool run_begun_ = false;  // the run read its input and shows its progress
  std::optional<int> end_result_;
  RunOutcome outcome_ = RunOutcome::kOk;
  RunDetails run_details_;
};

}  // namespace quorvane
