#include "app/quorvane_app.h"

#include "automation/drop_folder_run.h"
#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

namespace quorvane {

std::string ApplicationName(std::string_view executable_path, std::string_view fallback) {
  std::string_view name = executable_path.substr(executable_path.find_last_of("/\\") + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot != 0) name = name.substr(0, dot);
  return std::string(name.empty() ? fallback : name);
}

StartMode StartModeFor(const CommandLine& command_line) {
  if (command_line.action == CommandLine::Action::kBatch) return StartMode::kBatch;
  return command_line.dialog ? StartMode::kDialog : StartMode::kDropFolderDecides;
}

int CQuorvaneApp::InitInstance() {
  FileSystem& files = platform_.Files();
  // The folders below the maker folder are made one level at a time by the dialog, so the
  // Documents and maker folders have to be there first.
  const FolderTree folders(platform_.DocumentsFolder());
  if (folders.documents.empty()) {
    // Folders made anywhere else (the root of the drive) would send every file astray.
    platform_.ReportStartupError(Text(TextId::kNoDocumentsFolder));
    return ExitStatus(RunOutcome::kNoDialog);
  }
  if (!DirectoryExists(files, folders.documents)) files.MakeDirectory(folders.documents);
  if (!DirectoryExists(files, folders.maker)) files.MakeDirectory(folders.maker);

  if (start_mode_ == StartMode::kBatch) {
    // A calling program's run: the drop folder alone, with no dialog to show anything or wait on
    // a person. Without the AutoFile folder there is no input to convert.
    MakeDataFolders(files, folders);
    if (!DirectoryExists(files, folders.auto_file)) return ExitStatus(RunOutcome::kInputMissing);
    RunProgress unseen;
    return ExitStatus(RunDropFolder(files, folders, unseen, &run_details_));
  }

  DialogEnvironment environment;
  environment.files = &files;
  environment.documents_folder = [this] { return platform_.DocumentsFolder(); };
  environment.executable_path = platform_.ExecutablePath();
  environment.start_mode = start_mode_;
  CQuorvaneDlg dialog(std::move(environment));

  if (!platform_.RunModal(dialog)) return ExitStatus(RunOutcome::kNoDialog);
  return ExitStatus(dialog.outcome());
}

}  // namespace quorvane
