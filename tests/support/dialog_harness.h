#pragma once

#include <string>

#include "storage/folder_tree.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/recording_view.h"
#include "tests/support/temp_home.h"

namespace quorvane::testing {

// A main dialog over a throw-away Documents folder (with the maker folder made, as start-up makes
// it), the real file system behind a fault-injecting seam, and a recording view.
class DialogHarness {
 public:
  DialogHarness() : files_(RealFileSystem()), folders_(documents_.path().string()) {
    std::filesystem::create_directories(folders_.maker);
  }

  // Builds the dialog and runs its initialisation, as the modal run would.
  CQuorvaneDlg& Open(StartMode start_mode = StartMode::kDropFolderDecides) {
    DialogEnvironment environment;
    environment.start_mode = start_mode;
    environment.files = &files_;
    environment.documents_folder = [this] { return folders_.documents; };
    environment.executable_path = "/opt/quorvane/bin/quorvane";
    // Time moves on by more than the progress interval at every look, so that every change of
    // the picture is shown, unless a test stops it.
    environment.clock_ms = [this] { return now_ms_ += clock_step_ms_; };
    dialog_ = std::make_unique<CQuorvaneDlg>(std::move(environment));
    dialog_->AttachView(view_);
    dialog_->OnInitDialog();
    return *dialog_;
  }

  CQuorvaneDlg& dialog() { return *dialog_; }
  RecordingView& view() { return view_; }
  HeadlessView& controls() { return view_.state(); }
  FaultyFileSystem& files() { return files_; }
  const FolderTree& folders() const { return folders_; }

  // Time stands still: a run shows only the first and last step of each stretch of its progress.
  void StopTheClock() { clock_step_ms_ = 0; }

  void WriteSettings(const std::string& bytes) { WriteFile(folders_.SettingsFile(), bytes); }
  void MakeDropFolder() { std::filesystem::create_directories(folders_.auto_file); }
  void DropInput(const std::string& bytes) { WriteFile(folders_.InputFile(), bytes); }
  bool InputExists() const { return std::filesystem::exists(folders_.InputFile()); }
  bool ResultExists() const { return std::filesystem::exists(folders_.ResultFile()); }
  std::string Result() const { return ReadFile(folders_.ResultFile()); }

 private:
  TempFolder documents_;
  FaultyFileSystem files_;
  FolderTree folders_;
  RecordingView view_;
  std::unique_ptr<CQuorvaneDlg> dialog_;
  uint64_t now_ms_ = 0;
  uint64_t clock_step_ms_ = 20;
};

}  // namespace quorvane::testing
