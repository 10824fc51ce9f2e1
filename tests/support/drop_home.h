#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "tests/support/process.h"
#include "tests/support/temp_home.h"

namespace quorvane::testing {

// A throw-away HOME with its data folders under `documents` (relative to HOME; "Documents" is
// what a HOME without user-dirs.dirs gives): for the real executable, and for a dialog in the
// test's own process.
class DropHome {
 public:
  explicit DropHome(const std::string& documents = "Documents")
      : folders_((home_.path() / documents).string()) {}

  std::string home() const { return home_.path().string(); }
  const FolderTree& folders() const { return folders_; }

  void MakeMakerFolder() const { std::filesystem::create_directories(folders_.maker); }
  void MakeDropFolder() const { std::filesystem::create_directories(folders_.auto_file); }
  void DropInput(const std::string& bytes) const { WriteFile(folders_.InputFile(), bytes); }
  void WriteResult(const std::string& bytes) const { WriteFile(folders_.ResultFile(), bytes); }
  void WriteSettings(const std::string& bytes) const { WriteFile(folders_.SettingsFile(), bytes); }

  bool InputExists() const { return std::filesystem::exists(folders_.InputFile()); }
  bool ResultExists() const { return std::filesystem::exists(folders_.ResultFile()); }
  // The result file's bytes; nullopt when there is none.
  std::optional<std::string> Result() const {
    if (!std::filesystem::is_regular_file(folders_.ResultFile())) return std::nullopt;
    return ReadFile(folders_.ResultFile());
  }
  // Whether a temporary result file of a run is left in the Result folder.
  bool PendingResultExists() const { return TemporaryLeftBeside(folders_.ResultFile()); }

  std::vector<std::string> Environment(std::vector<std::string> extra = {}) const {
    return HeadlessEnvironment(home(), std::move(extra));
  }
  // Where a run's standard error goes, for the messages it printed.
  std::string ErrorLog() const { return (home_.path() / "stderr.txt").string(); }
  std::string ReadErrorLog() const { return ReadFile(ErrorLog()); }

 private:
  TempFolder home_;
  FolderTree folders_;
};

}  // namespace quorvane::testing
