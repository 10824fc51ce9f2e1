#pragma once

#include <optional>
#include <string>

#include "storage/file_primitives.h"
#include "tests/support/drop_home.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
#include "tests/support/recording_view.h"

namespace quorvane::testing {

// A main dialog in the test's own process over a throw-away home (with the maker folder made, as
// start-up makes it), a file system behind a fault-injecting seam, and a recording view. The
// file system is the real disk, or one held in memory where the disk is not what is tested: the
// helpers below reach the files through it either way.
class DialogHarness {
 public:
  enum class Disk { kReal, kMemory };

  explicit DialogHarness(Disk disk = Disk::kReal)
      : disk_(disk == Disk::kReal ? RealFileSystem() : memory_), files_(disk_) {
    MakeFolders(folders().maker);
  }

  // Builds the dialog and runs its initialisation, as the modal run would.
  CQuorvaneDlg& Open(StartMode start_mode = StartMode::kDropFolderDecides) {
    DialogEnvironment environment;
    environment.start_mode = start_mode;
    environment.files = &files_;
    environment.documents_folder = [this] { return folders().documents; };
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
  // The disk held in memory, with its power-cut model (Disk::kMemory only).
  MemoryFileSystem& memory() { return memory_; }
  const FolderTree& folders() const { return home_.folders(); }

  // Time stands still: a run shows only the first and last step of each stretch of its progress.
  void StopTheClock() { clock_step_ms_ = 0; }

  // The files, through the file system under the seam (so that no fault meets them).
  void WriteSettings(const std::string& bytes) { Put(folders().SettingsFile(), bytes); }
  void MakeDropFolder() { MakeFolders(folders().auto_file); }
  void DropInput(const std::string& bytes) { Put(folders().InputFile(), bytes); }
  bool InputExists() const { return FileExists(disk_, folders().InputFile()); }
  bool ResultExists() const { return FileExists(disk_, folders().ResultFile()); }
  std::optional<std::string> Result() const { return Read(folders().ResultFile()); }
  std::optional<std::string> Read(const std::string& path) const {
    std::string bytes;
    if (disk_.ReadFile(path, kReadLimit, bytes, nullptr) != FileSystem::ReadOutcome::kOk) {
      return std::nullopt;
    }
    return bytes;
  }
  // A read-only mark, as a file in memory has it (on the disk, the permission bits).
  void MarkReadOnly(const std::string& path) {
    if (&disk_ == &memory_) {
      memory_.MarkReadOnly(path);
    } else {
      std::filesystem::permissions(
          path, std::filesystem::perms::all & ~std::filesystem::perms::owner_write &
                    ~std::filesystem::perms::group_write & ~std::filesystem::perms::others_write);
    }
  }

 private:
  // Makes every folder of `path` that is not there yet, one level at a time.
  void MakeFolders(const std::string& path) {
    for (size_t at = path.find(kPathSeparator, 1); at != std::string::npos;
         at = path.find(kPathSeparator, at + 1)) {
      disk_.MakeDirectory(path.substr(0, at));
    }
    disk_.MakeDirectory(path);
  }
  void Put(const std::string& path, const std::string& bytes) {
    MakeFolders(path.substr(0, path.find_last_of(kPathSeparator)));
    if (!ReplaceFileSafely(disk_, path, bytes)) throw std::runtime_error("cannot write " + path);
  }

  DropHome home_;
  MemoryFileSystem memory_;
  FileSystem& disk_;
  FaultyFileSystem files_;
  RecordingView view_;
  std::unique_ptr<CQuorvaneDlg> dialog_;
  uint64_t now_ms_ = 0;
  uint64_t clock_step_ms_ = 20;
};

}  // namespace quorvane::testing
