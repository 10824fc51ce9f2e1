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
  void Reset(HANDLE handle) {
    Close();
    handle_ = handle;
  }
  bool Close() {
    if (!valid()) return true;
    const bool closed = ::CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// Records the last error of the system for `operation` on `path`; returns false.
bool FailedHere(FileOperation operation, const std::string& path) {
  return Failed(operation, path, static_cast<int>(::GetLastError()));
}

class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(HANDLE handle, std::string path) : handle_(handle), path_(std::move(path)) {}

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(handle_.get(), bytes.data(), chunk, &written, nullptr) || written == 0) {
        return FailedHere(FileOperation::kWrite, path_);
      }
      bytes.remove_prefix(written);
    }
    return true;
  }
  bool Flush() override {
    return ::FlushFileBuffers(handle_.get()) != 0 || FailedHere(FileOperation::kFlush, path_);
  }
  bool Close() override { return handle_.Close() || FailedHere(FileOperation::kClose, path_); }

 private:
  Handle handle_;
  std::string path_;
};

// The lock is the open handle itself: nobody else can open the file while it is held, and the
// system closes it when the process dies.
class Win32FileLock final : public FileLock {
 public:
  explicit Win32FileLock(HANDLE handle) : handle_(handle) {}

 private:
  Handle handle_;
};

// A file's facts through its handle, as GetFileInformationByHandle gives them but without the
// volume's serial number: asking for that is a round trip to Wine's mount manager, some 0.6 ms
// each, a dozen times a run. The stamps are compared only between names in one folder, so on
// one volume, where the file's index alone tells files apart; the serial is left 0 throughout.
bool QueryFileInformation(HANDLE file, BY_HANDLE_FILE_INFORMATION& info) {
  // NtQueryInformationFile from ntdll, which every process has loaded: importing it would add a
  // DLL to the executable's import list for one call.
  struct IoStatusBlock {
    union {
      LONG status;
      void* pointer;
    };
    ULONG_PTR information;
  };
  using QueryInformationFile = LONG(WINAPI*)(HANDLE, IoStatusBlock*, void*, ULONG, int);
  static const auto query = reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
  constexpr int kFileInternalInformation = 6;
  FILE_BASIC_INFO basic;
  FILE_STANDARD_INFO standard;
  LARGE_INTEGER index;
  IoStatusBlock io = {};
  if (query == nullptr ||
      !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
      !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
      query(file, &io, &index, sizeof index, kFileInternalInformation) < 0) {
    if (!::GetFileInformationByHandle(file, &info)) return false;
    info.dwVolumeSerialNumber = 0;
    return true;
  }
  const auto file_time = [](const LARGE_INTEGER& time) {
    return FILETIME{static_cast<DWORD>(time.QuadPart), static_cast<DWORD>(time.QuadPart >> 32)};
  };
  info = {};
  info.dwFileAttributes = basic.FileAttributes;
  info.ftCreationTime = file_time(basic.CreationTime);
  info.ftLastAccessTime = file_time(basic.LastAccessTime);
  info.ftLastWriteTime = file_time(basic.LastWriteTime);
  info.nFileSizeHigh = static_cast<DWORD>(standard.EndOfFile.QuadPart >> 32);
  info.nFileSizeLow = static_cast<DWORD>(standard.EndOfFile.QuadPart);
  info.nNumberOfLinks = standard.NumberOfLinks;
  info.nFileIndexHigh = static_cast<DWORD>(index.QuadPart >> 32);
  info.nFileIndexLow = static_cast<DWORD>(index.QuadPart);
  return true;
}

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
  return file.valid() && QueryFileInformation(file.get(), info);
}

// The error of the last failed call, as a deletion's outcome: a file that another copy took
// meanwhile is "not found", not a failure.
DeleteOutcome DeletionFailed(const std::wstring& path) {
  const DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
    return DeleteOutcome::kNotFound;
  }
  Failed(FileOperation::kDelete, ToUtf8(path), static_cast<int>(error));
  return DeleteOutcome::kFailed;
}

bool SetAttributes(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = attributes;
  return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

bool MarkForDeletion(HANDLE file, bool deleted) {
  FILE_DISPOSITION_INFO disposition = {static_cast<BOOLEAN>(deleted ? TRUE : FALSE)};
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof disposition) != 0;
}

// The file at `path`, opened to be deleted and shutting writers out; invalid when that fails.
HANDLE OpenToDelete(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Whether a program holds the file open for writing: an open to read that shuts writers out
// fails then, and only then (readers are let in, whatever sharing they chose for deletion).
bool HeldForWriting(const std::wstring& path) {
  Handle probe(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  return !probe.valid() && ::GetLastError() == ERROR_SHARING_VIOLATION;
}

// How long a reader that keeps the input from being deleted is waited for: about two seconds.
constexpr int kReaderWaits = 40;
constexpr DWORD kReaderWaitMs = 50;

// Deletes the file at `path` when it is still the one `expected` describes. The check and the
// deletion go through one handle, opened with DELETE access and shutting writers out, so nothing
// can be put in the file's place between them.
DeleteOutcome DeleteIfUnchanged(const std::wstring& path, const FileStamp& expected) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return DeletionFailed(path);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // A link: the file it leads to is checked through a handle of its own, which keeps writers
    // out meanwhile, and the link itself is deleted through a handle opened on the link.
    Handle target(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!target.valid()) return DeletionFailed(path);
    BY_HANDLE_FILE_INFORMATION info;
    if (!QueryFileInformation(target.get(), info)) return DeleteOutcome::kFailed;
    const FileStamp now = StampOf(info);
    if (now.device != expected.device || now.file != expected.file) return DeleteOutcome::kReplaced;
    if (!(now == expected)) return DeleteOutcome::kChanged;
    Handle link(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link.valid()) return DeletionFailed(path);
    return MarkForDeletion(link.get(), true) ? DeleteOutcome::kDeleted : DeleteOutcome::kFailed;
  }
  Handle file(OpenToDelete(path));
  if (!file.valid()) {
    if (::GetLastError() != ERROR_SHARING_VIOLATION) return DeletionFailed(path);
    // A program holds it open for writing: it is being written. One that only reads it without
    // letting it be deleted is no writer: it is waited for a little, and then the file is kept
    // whole for a later start.
    if (HeldForWriting(path)) return DeleteOutcome::kChanged;
    for (int wait = 0; wait < kReaderWaits && !file.valid(); ++wait) {
      ::Sleep(kReaderWaitMs);
      file.Reset(OpenToDelete(path));
      if (!file.valid() && ::GetLastError() != ERROR_SHARING_VIOLATION) return DeletionFailed(path);
    }
    if (!file.valid())
      return HeldForWriting(path) ? DeleteOutcome::kChanged : DeleteOutcome::kFailed;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!QueryFileInformation(file.get(), info)) return DeleteOutcome::kFailed;
  const FileStamp now = StampOf(info);
  if (now.device != expected.device || now.file != expected.file) return DeleteOutcome::kReplaced;
  if (!(now == expected)) return DeleteOutcome::kChanged;
  const DWORD kept = info.dwFileAttributes;
  if ((kept & FILE_ATTRIBUTE_READONLY) == 0) {
    return MarkForDeletion(file.get(), true) ? DeleteOutcome::kDeleted : DeleteOutcome::kFailed;
  }
  // A read-only file is deleted all the same, its mark cleared first. The mark belongs to the
  // file, not to the name: with other names (hard links) it is set back through the same handle
  // once this name is marked for deletion, and where that cannot be done nothing is deleted.
  if (!SetAttributes(file.get(), (kept & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL)) {
    return DeleteOutcome::kFailed;
  }
  if (!MarkForDeletion(file.get(), true)) {
    static_cast<void>(SetAttributes(file.get(), kept));
    return DeleteOutcome::kFailed;
  }
  if (info.nNumberOfLinks <= 1 || SetAttributes(file.get(), kept)) return DeleteOutcome::kDeleted;
  static_cast<void>(MarkForDeletion(file.get(), false));
  static_cast<void>(SetAttributes(file.get(), kept));
  return DeleteOutcome::kFailed;
}

// A file's bytes, read through a handle that keeps writers out until the view is released.
class Win32FileView final : public FileView {
 public:
  Win32FileView(HANDLE handle, std::wstring path) : handle_(handle), path_(std::move(path)) {}

  FileSystem::ReadOutcome Load(size_t limit) {
    using ReadOutcome = FileSystem::ReadOutcome;
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(handle_.get()) != FILE_TYPE_DISK ||
        (QueryFileInformation(handle_.get(), info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
      Failed(FileOperation::kOpen, ToUtf8(path_), FileFailure::kNotAPlainFile);
      return ReadOutcome::kCannotOpen;
    }
    if (!QueryFileInformation(handle_.get(), info)) {
      FailedHere(FileOperation::kOpen, ToUtf8(path_));
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
        FailedHere(FileOperation::kRead, ToUtf8(path_));
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
  // Who may read a file is its folder's access list on Windows, not a mode of the file's own.
  uint32_t permissions() const override { return 0666; }
  bool Release() override {
    handle_.Close();
    return true;
  }
  DeleteOutcome Delete() override {
    // The read handle shares nothing but reading, so it must go before the file can be opened
    // for deletion; the deletion then checks, through its own handle, that it is the same file.
    handle_.Close();
    return DeleteIfUnchanged(path_, stamp_);
  }

 private:
  Handle handle_;
  std::wstring path_;
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
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !status.is_link) {
      // A folder is told by its attributes alone: only files' stamps are ever compared, and
      // opening the folder for one would cost three more requests to Wine's server.
      status.is_directory = true;
      status.read_only = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
      return status;
    }
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
    return ::CreateDirectoryW(ToWide(path).c_str(), nullptr) != 0 ||
           FailedHere(FileOperation::kMakeFolder, path);
  }

  bool RemoveDirectory(const std::string& path) override {
    return ::RemoveDirectoryW(ToWide(path).c_str()) != 0 ||
           FailedHere(FileOperation::kRemoveFolder, path);
  }

  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(ToWide(path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      FailedHere(FileOperation::kList, path);
      return std::nullopt;
    }
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
    std::wstring wide = ToWide(path);
    HANDLE file = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_SHARING_VIOLATION) {
        Failed(FileOperation::kOpen, path, FileFailure::kHeldForWriting);
        return ReadOutcome::kBusy;
      }
      FailedHere(FileOperation::kOpen, path);
      return ReadOutcome::kCannotOpen;
    }
    auto win32_view = std::make_unique<Win32FileView>(file, std::move(wide));
    const ReadOutcome outcome = win32_view->Load(limit);
    if (outcome == ReadOutcome::kOk) view = std::move(win32_view);
    return outcome;
  }

  // Who may read the new file is inherited from its folder's access list.
  std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                const std::optional<FileStatus>&, std::string& path,
                                                uint32_t) override {
    // CREATE_NEW: whatever stands under a name makes the creation fail, and another name is tried.
    for (int attempt = 0; attempt < 100; ++attempt) {
      path = NewTemporaryPathFor(target);
      HANDLE file =
          ::CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) return std::make_unique<Win32WritableFile>(file, path);
      const DWORD error = ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        Failed(FileOperation::kCreate, path, static_cast<int>(error));
        return nullptr;
      }
    }
    Failed(FileOperation::kCreate, path, ERROR_FILE_EXISTS);
    return nullptr;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    // Written through: the move is on the disk when the call returns.
    return ::MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           FailedHere(FileOperation::kRename, to);
  }

  bool DeleteFile(const std::string& path) override {
    return ::DeleteFileW(ToWide(path).c_str()) != 0 || FailedHere(FileOperation::kDelete, path);
  }

  bool RenameNoReplace(const std::string& from, const std::string& to) override {
    return ::MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_WRITE_THROUGH) != 0 ||
           FailedHere(FileOperation::kRename, from);
  }

  // MOVEFILE_WRITE_THROUGH has put each move on the disk already.
  bool SyncDirectory(const std::string&) override { return true; }

  LockAttempt TryLock(const std::string& folder) override {
    // The lock is the open handle of a file in the folder itself, shared with nobody. A lock file
    // marked read-only is opened for reading only, which locks it all the same; a link in its
    // place is opened as the link, never followed.
    const std::wstring wide = ToWide(folder + "\\Quorvane.lock");
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

  // A copy on Windows deletes through the handle it checked with and never claims a file by
  // another name, so a claim here was left by nobody at work.
  ClaimCheck CheckClaim(const std::string&) override { return {ClaimState::kAbandoned, nullptr}; }
};

}  // namespace

std::string SystemErrorText(int code) {
  // In the user's own language where Windows has the text in it.
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length > 0 && text != nullptr ? std::wstring(text, length) : L"";
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(code);
  return ToUtf8(message);
}

FileSystem& RealFileSystem() {
  static Win32FileSystem file_system;
  return file_system;
}

}  // namespace quorvane
