#include "storage/file_primitives.h"

namespace quorvane {

bool DirectoryExists(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  return status && status->is_directory;
}

bool FileExists(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  return status && !status->is_directory;
}

FileContents ReadWholeFile(FileSystem& fs, const std::string& path) {
  FileContents contents;
  contents.outcome = fs.ReadFile(path, kReadLimit, contents.bytes);
  return contents;
}

namespace {

bool IsReadOnlyFile(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  return status && !status->is_directory && status->read_only;
}

}  // namespace

bool WriteWholeFile(FileSystem& fs, const std::string& path, std::string_view bytes) {
  // Permission bits do not stop every user (root writes anywhere), so a read-only mark is
  // honoured here rather than left to the open.
  if (IsReadOnlyFile(fs, path)) return false;
  auto file = fs.CreateFile(path);
  if (!file) return false;
  bool written = file->Write(bytes);
  return file->Close() && written;
}

std::string PendingPathFor(const std::string& path) { return path + ".partial"; }

bool ReplaceFileSafely(FileSystem& fs, const std::string& path, std::string_view bytes) {
  if (auto status = fs.Status(path); status && (status->is_directory || status->read_only)) {
    return false;
  }
  const std::string pending = PendingPathFor(path);
  // Whatever a killed run, or anyone else, left under the temporary name goes first, so that a
  // link planted there is removed rather than written through.
  fs.DeleteFile(pending);
  auto file = fs.CreateFile(pending);
  if (!file) return false;
  bool written = file->Write(bytes) && file->Flush();
  bool closed = file->Close();
  if (written && closed && fs.Rename(pending, path)) return true;
  fs.DeleteFile(pending);
  return false;
}

bool DeleteTree(FileSystem& fs, const std::string& path) {
  auto entries = fs.ListDirectory(path);
  if (!entries) return false;
  for (const DirectoryEntry& entry : *entries) {
    std::string child = path + kPathSeparator + entry.name;
    if (entry.is_directory) {
      DeleteTree(fs, child);
    } else {
      fs.DeleteFile(child);
    }
  }
  fs.RemoveDirectory(path);  // fails, as it should, when something was left inside
  return true;
}

bool DeleteFileForced(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  if (status && status->read_only) fs.ClearReadOnly(path);
  // A failed status query does not prove the file gone (it may be a passing failure), so the
  // deletion is tried all the same; the file counts as deleted only once it cannot be found.
  return fs.DeleteFile(path) || !fs.Status(path);
}

}  // namespace quorvane
