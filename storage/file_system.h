#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// Paths are UTF-8 text with the platform's own separator.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

struct FileStatus {
  bool is_directory = false;
  bool read_only = false;  // no one may write it (read-only attribute, or no write bit at all)
  uint64_t size = 0;
};

struct DirectoryEntry {
  std::string name;
  bool is_directory = false;
};

// A file opened for writing; closing it is part of writing it, so Close reports failures too.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  virtual bool Write(std::string_view bytes) = 0;
  // Puts what was written on the disk itself, so that it survives a crash.
  virtual bool Flush() = 0;
  virtual bool Close() = 0;
};

// Held while one copy of Quorvane works on the drop folder; released when destroyed, or by the
// system when the process dies.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// Everything Quorvane does to the file system goes through this interface, one call per step, so
// that tests can make any single step fail.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // nullopt when the status cannot be queried (absent, or access denied). Symbolic links are
  // followed; a dangling one counts as absent.
  virtual std::optional<FileStatus> Status(const std::string& path) = 0;
  // Creates one folder level; false when it exists already or cannot be made.
  virtual bool MakeDirectory(const std::string& path) = 0;
  // Removes an empty folder.
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // nullopt when the folder cannot be listed. "." and ".." are not listed.
  virtual std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) = 0;

  enum class ReadOutcome { kOk, kCannotOpen, kTooLarge };
  // Reads the whole file when it has at most `limit` bytes. A longer file gives kTooLarge with its
  // first `limit` bytes.
  virtual ReadOutcome ReadFile(const std::string& path, size_t limit, std::string& bytes) = 0;

  // Creates the file, or truncates an existing one; nullptr when it cannot be opened.
  virtual std::unique_ptr<WritableFile> CreateFile(const std::string& path) = 0;
  // Moves `from` onto `to` in one step, replacing `to`; the move itself is put on the disk.
  virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // Fails on a file marked read-only, as on Windows.
  virtual bool DeleteFile(const std::string& path) = 0;
  // Makes the file writable again (clears the read-only attribute).
  virtual bool ClearReadOnly(const std::string& path) = 0;
  // Takes the exclusive lock on `path` (creating the file) without waiting; nullptr when another
  // process holds it or the file cannot be made.
  virtual std::unique_ptr<FileLock> TryLock(const std::string& path) = 0;
};

// The file system of the machine the program runs on.
FileSystem& RealFileSystem();

}  // namespace quorvane
