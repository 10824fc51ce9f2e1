#pragma once

#include <string>
#include <string_view>

#include "storage/file_system.h"

namespace quorvane {

// The largest file Quorvane reads, in bytes.
inline constexpr size_t kReadLimit = 2077000;

bool DirectoryExists(FileSystem& fs, const std::string& path);
// True for an existing path that is not a folder.
bool FileExists(FileSystem& fs, const std::string& path);

struct FileContents {
  FileSystem::ReadOutcome outcome = FileSystem::ReadOutcome::kCannotOpen;
  std::string bytes;  // all of the file, or its first kReadLimit bytes when it is larger
};
FileContents ReadWholeFile(FileSystem& fs, const std::string& path);

// Creates or truncates the file and writes `bytes`; false when it could not be opened or written.
// A file marked read-only is left as it is.
bool WriteWholeFile(FileSystem& fs, const std::string& path, std::string_view bytes);

// Writes `bytes` to a temporary file beside `path`, puts it on the disk and then moves it onto
// `path` in one step: a reader, or a crash at any moment, sees the old file or the whole new one.
// A read-only `path` is not replaced. False when anything failed; `path` is then unchanged.
bool ReplaceFileSafely(FileSystem& fs, const std::string& path, std::string_view bytes);

// The temporary file that ReplaceFileSafely writes before the move.
std::string PendingPathFor(const std::string& path);

// Removes a folder with everything in it. A file that cannot be deleted stays, and so does every
// folder above it. False when the folder cannot be listed (nothing is deleted then).
bool DeleteTree(FileSystem& fs, const std::string& path);

// Deletes a file, clearing a read-only mark first. True when the file is gone afterwards, also
// when it was gone before.
bool DeleteFileForced(FileSystem& fs, const std::string& path);

}  // namespace quorvane
