#include "storage/windows_api.h"

#include <algorithm>

#include "storage/file_system.h"
#include "storage/wide_text.h"

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

FileStamp StampOf(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber,
          (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow,
          (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow,
          static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                               info.ftLastWriteTime.dwLowDateTime)};
}

// What a name leads to, links followed; false when it leads nowhere.
bool QueryByHandle(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& info) {
  Handle file(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.valid() && ::GetFileInformationByHandle(file.get(), &info);
}

// A file's bytes, read through a handle that keeps writers out until the view is released.
class Win32FileView final : public FileView {
 public:
  explicit Win32FileView(HANDLE handle) : handle_(handle) {}

  FileSystem::ReadOutcome Load(size_t limit) {
    using ReadOutcome = FileSystem::ReadOutcome;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(handle_.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(handle_.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      return ReadOutcome::kCannotOpen;
    }
    stamp_ = StampOf(info);
    if (stamp_.size > limit) return ReadOutcome::kTooLarge;
    // Nobody can write the file while the handle is open, so its size is final.
    bytes_.resize(static_cast<size_t>(stamp_.size));
    size_t filled = 0;
    while (filled < bytes_.size()) {
      const DWORD wanted = static_cast<DWORD>(std::min<size_t>(bytes_.size() - filled, 1u << 30));
      DWORD got = 0;
      if (!::ReadFile(handle_.get(), bytes_.data() + filled, wanted, &got, nullptr)) {
        return ReadOutcome::kCannotOpen;
      }
      if (got == 0) break;
      filled += got;
    }
    bytes_.resize(filled);
    return ReadOutcome::kOk;
  }

  std::string_view bytes() const override { return bytes_; }
  const FileStamp& stamp() const override { return stamp_; }
  bool Release() override {
    handle_.Close();
    return true;
  }

 private:
  Handle handle_;
  FileStamp stamp_;
  std::string bytes_;
};

class Win32FileSystem final : public FileSystem {
 public:
  std::optional<FileStatus> Status(const std::string& path) override {
    const std::wstring wide = ToWide(path);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    FileStatus status;
    status.is_link = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    DWORD attributes = data.dwFileAttributes;
    BY_HANDLE_FILE_INFORMATION info;
    if (QueryByHandle(wide, info)) {
      attributes = info.dwFileAttributes;
      status.stamp = StampOf(info);
    } else if (status.is_link) {
      return std::nullopt;  // a dangling link counts as absent
    } else {
      status.stamp.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    }
    status.is_directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.is_regular = !status.is_directory && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    status.read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
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
      // A junction or a link is neither: it is removed as a link, never followed into.
      const bool link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
      const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      entries.push_back({std::move(name), directory && !link, !directory && !link});
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return entries;
  }

  ReadOutcome ViewFile(const std::string& path, size_t limit,
                       std::unique_ptr<FileView>& view) override {
    // Other readers are welcome, writers are kept out while the file is viewed; a file that a
    // writer still holds cannot be opened at all.
    HANDLE file = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return ::GetLastError() == ERROR_SHARING_VIOLATION ? ReadOutcome::kBusy
                                                         : ReadOutcome::kCannotOpen;
    }
    auto win32_view = std::make_unique<Win32FileView>(file);
    const ReadOutcome outcome = win32_view->Load(limit);
    if (outcome == ReadOutcome::kOk) view = std::move(win32_view);
    return outcome;
  }

  std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                std::string& path) override {
    // CREATE_NEW: whatever stands under a name makes the creation fail, and another name is tried.
    for (int attempt = 0; attempt < 100; ++attempt) {
      path = NewTemporaryPathFor(target);
      HANDLE file =
          ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) return std::make_unique<Win32WritableFile>(file);
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return nullptr;
    }
    return nullptr;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    return ::MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  bool DeleteFile(const std::string& path) override {
    return ::DeleteFileW(ToWide(path).c_str()) != 0;
  }

  DeleteOutcome DeleteFileIfUnchanged(const std::string& path, const FileStamp& expected) override {
    const std::wstring wide = ToWide(path);
    // Another copy running without the lock may delete the file between any two of these steps;
    // that is "not found", not a failure.
    const auto failed = [] {
      const DWORD error = ::GetLastError();
      return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                 ? DeleteOutcome::kNotFound
                 : DeleteOutcome::kFailed;
    };
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return failed();
    // The check, the clearing of the read-only mark and the deletion all go through one handle,
    // so nothing can be put in the file's place between them. Through a link, the handle is the
    // target's and only looks.
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const DWORD access =
        link ? FILE_READ_ATTRIBUTES : DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
    Handle file(::CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return failed();
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file.get(), &info)) return DeleteOutcome::kFailed;
    const FileStamp now = StampOf(info);
    if (now.device != expected.device || now.file != expected.file) return DeleteOutcome::kReplaced;
    if (!(now == expected)) return DeleteOutcome::kChanged;
    if (link) {
      // A link is deleted as a link; its target keeps its attributes.
      file.Close();
      return ::DeleteFileW(wide.c_str()) ? DeleteOutcome::kDeleted : failed();
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
      FILE_BASIC_INFO basic = {};
      basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      if (!::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof basic)) {
        return DeleteOutcome::kFailed;
      }
    }
    FILE_DISPOSITION_INFO disposition = {TRUE};
    if (!::SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
      return DeleteOutcome::kFailed;
    }
    return DeleteOutcome::kDeleted;
  }

  LockAttempt TryLock(const std::string& path) override {
    // The lock is the open handle itself, shared with nobody. A lock file marked read-only is
    // opened for reading only, which locks it all the same; a link in its place is opened as the
    // link, never followed.
    const std::wstring wide = ToWide(path);
    LockAttempt attempt;
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_ACCESS_DENIED) {
      file = ::CreateFileW(wide.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    }
    if (file == INVALID_HANDLE_VALUE) {
      attempt.held_elsewhere = ::GetLastError() == ERROR_SHARING_VIOLATION;
      return attempt;
    }
    attempt.lock = std::make_unique<Win32FileLock>(file);
    return attempt;
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static Win32FileSystem file_system;
  return file_system;
}

}  // namespace quorvane
