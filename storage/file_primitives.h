#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "convert/limits.h"
#include "storage/file_system.h"

namespace quorvane {

[[nodiscard]] bool DirectoryExists(FileSystem& fs, const std::string& path);
// True for an existing path that is not a folder.
[[nodiscard]] bool FileExists(FileSystem& fs, const std::string& path);

struct FileContents {
  FileSystem::ReadOutcome outcome = FileSystem::ReadOutcome::kCannotOpen;
  std::string bytes;  // all of the file; empty unless the outcome is kOk
  FileStamp stamp;    // which file was read, and in what state
};
// Reads the whole file; one of more than kReadLimit bytes is refused.
[[nodiscard]] FileContents ReadWholeFile(FileSystem& fs, const std::string& path);

// How ReplaceFileSafely ended.
struct Replacement {
  bool done = false;      // the new file and its name are on the disk
  bool in_place = false;  // the new file stands at the path, but perhaps not for good: its
                          // folder could not be put on the disk, so a power cut may undo it
  explicit operator bool() const { return done; }
};

// Writes `bytes` to a new temporary file beside `path`, puts it on the disk and then moves it
// onto `path` in one step: a reader, or a crash at any moment, sees the old file or the whole new
// one, and nothing that stood at any name (a link, a hard link) is ever written through. Done
// only once the new file and its name are on the disk. A plain file at `path` marked read-only,
// or a folder there, is not replaced. When the move failed, `path` is unchanged and no temporary
// file is left. Group and others get no read bit that `readable` lacks (see CreateTemporary):
// a file made from another grants nobody a read that one did not grant.
[[nodiscard]] Replacement ReplaceFileSafely(FileSystem& fs, const std::string& path,
                                            std::string_view bytes, uint32_t readable = 0777);

// ReplaceFileSafely in steps, for bytes that come a part at a time: the new file is written under
// a name of its own beside `path` as they come, and moved onto `path` only by Commit. Destroyed
// without a Commit (or after a failed one), it leaves `path` as it was and no temporary file.
class Replacing {
 public:
  Replacing(FileSystem& fs, std::string path, uint32_t readable = 0777);
  Replacing(const Replacing&) = delete;
  Replacing& operator=(const Replacing&) = delete;
  ~Replacing();

  // Whether every step so far went through; once one failed, nothing more is written.
  [[nodiscard]] bool ok() const { return file_ != nullptr; }
  void Write(std::string_view bytes);
  // Puts the new file on the disk, moves it onto the path and puts the folder on the disk.
  [[nodiscard]] Replacement Commit();
  // The first step that failed.
  const FileError& error() const { return error_; }

 private:
  void Fail();

  FileSystem& fs_;
  std::string path_;
  std::string temporary_;
  std::unique_ptr<WritableFile> file_;
  FileError error_;
};

// Deletes the plain files that killed runs left as temporaries of `path` (see
// IsTemporaryNameFor). Links and folders under such names are left alone. Only for a run that
// holds the lock: another copy's temporary would be deleted under it otherwise.
void RemoveLeftoverTemporaries(FileSystem& fs, const std::string& path);

// What RestoreClaimedFiles found beside the file.
struct ClaimsFound {
  bool held = false;  // a copy at work holds one: the folder is that copy's, and nothing was moved
  // A claim that stays where it is although `path` is free: its copy cannot be shown to have
  // ended, or it cannot be moved back without the risk of replacing a file. Empty: none.
  std::string stranded;
  FileError why_stranded;  // the step that failed for it
};

// Puts a file that a killed run had claimed for deletion (see NewClaimPathFor) back under
// `path`, unless something stands there already: then it waits beside it for the name to be
// free. A claim that a copy at work still holds is that copy's, and is never touched; so is
// everything else when one is found.
ClaimsFound RestoreClaimedFiles(FileSystem& fs, const std::string& path);

}  // namespace quorvane
