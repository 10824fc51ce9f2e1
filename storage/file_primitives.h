#pragma once

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

// Writes `bytes` to a new temporary file beside `path`, puts it on the disk and then moves it
// onto `path` in one step: a reader, or a crash at any moment, sees the old file or the whole new
// one, and nothing that stood at any name (a link, a hard link) is ever written through. True
// only once the new file and its name are on the disk. A plain
// file at `path` marked read-only, or a folder there, is not replaced. False when anything
// failed; `path` is then unchanged and no temporary file is left.
[[nodiscard]] bool ReplaceFileSafely(FileSystem& fs, const std::string& path,
                                     std::string_view bytes);

// Deletes the plain files that killed runs left as temporaries of `path` (see
// IsTemporaryNameFor). Links and folders under such names are left alone. Only for a run that
// holds the lock: another copy's temporary would be deleted under it otherwise.
void RemoveLeftoverTemporaries(FileSystem& fs, const std::string& path);

// Puts a file that a killed run had claimed for deletion (see NewClaimPathFor) back under
// `path`, unless something stands there already. Only for a run that holds the lock: a claim is
// otherwise another copy's, at work.
void RestoreClaimedFiles(FileSystem& fs, const std::string& path);

}  // namespace quorvane
