#include "platform/win32/windows_api.h"

#include <algorithm>

#include "platform/win32/wide_text.h"
#include "storage/file_system.h"

namespace quorvane {
namespace {

using win32::ToUtf8;
using win32::ToWide;

// Owns a handle from CreateFileW; closes it at the end of its scope.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { Close(); }

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (!valid()) return true;
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

class Win32WritableFile final : public WritableFile {
 public:
  explicit Win32WritableFile(HANDLE handle) : handle_(handle) {}

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(handle_.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
        return false;
      }
      bytes.remove_prefix(written);
    }
    return true;
  }
  bool Flush() override { return ::FlushFileBuffers(handle_.get()) != 0; }
  bool Close() override { return handle_.Close(); }

 private:
  Handle handle_;
};

// The lock is the open handle itself: nobody else can open the file while it is held, and the
// system closes it when the process dies.
class Win32FileLock final : public FileLock {
 public:
  explicit Win32FileLock(HANDLE handle) : handle_(handle) {}

 private:
  Handle handle_;
};

class Win32FileSystem final : public FileSystem {
 public:
  std::optional<FileStatus> Status(const std::string& path) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(ToWide(path).c_str(), GetFileExInfoStandard, &data)) {
      return std::nullopt;
    }
    FileStatus status;
    status.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.read_only = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    status.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return status;
  }

  bool MakeDirectory(const std::string& path) override {
    return ::CreateDirectoryW(ToWide(path).c_str(), nullptr) != 0;
  }

  bool RemoveDirectory(const std::string& path) override {
    return ::RemoveDirectoryW(ToWide(path).c_str()) != 0;
  }

  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(ToWide(path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    do {
      std::string name = ToUtf8(found.cFileName);
      if (name == "." || name == "..") continue;
      // A junction or folder link is removed as a link, never followed into.
      const bool is_directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
      entries.push_back({std::move(name), is_directory});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return entries;
  }

  ReadOutcome ReadFile(const std::string& path, size_t limit, std::string& bytes) override {
    bytes.clear();
    // Other readers are welcome, writers are kept out while the file is read.
    Handle file(::CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return ReadOutcome::kCannotOpen;
    // One byte more than the limit tells a file that is too large from one that fits exactly.
    bytes.resize(limit + 1);
    size_t filled = 0;
    while (filled < bytes.size()) {
      const DWORD wanted = static_cast<DWORD>(std::min<size_t>(bytes.size() - filled, 1u << 30));
      DWORD got = 0;
      if (!::ReadFile(file.get(), bytes.data() + filled, wanted, &got, nullptr)) {
        bytes.clear();
        return ReadOutcome::kCannotOpen;
      }
      if (got == 0) break;
      filled += got;
    }
    if (filled > limit) {
      bytes.resize(limit);
      return ReadOutcome::kTooLarge;
    }
    bytes.resize(filled);
    return ReadOutcome::kOk;
  }

  std::unique_ptr<WritableFile> CreateFile(const std::string& path) override {
    HANDLE file = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32WritableFile>(file);
  }

  bool Rename(const std::string& from, const std::string& to) override {
    return ::MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  bool DeleteFile(const std::string& path) override {
    return ::DeleteFileW(ToWide(path).c_str()) != 0;
  }

  bool ClearReadOnly(const std::string& path) override {
    return ::SetFileAttributesW(ToWide(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
  }

  std::unique_ptr<FileLock> TryLock(const std::string& path) override {
    HANDLE file = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32FileLock>(file);
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem file_system;
  return file_system;
}

}  // namespace quorvane
