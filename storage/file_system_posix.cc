#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "storage/file_system.h"

namespace quorvane {
namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

class PosixWritableFile final : public WritableFile {
 public:
  explicit PosixWritableFile(int fd) : fd_(fd) {}
  ~PosixWritableFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Write(std::string_view bytes) override { return WriteAll(fd_, bytes); }
  bool Flush() override { return ::fdatasync(fd_) == 0; }
  bool Close() override {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

class PosixFileLock final : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { ::close(fd_); }  // closing releases the lock

 private:
  int fd_;
};

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

class PosixFileSystem final : public FileSystem {
 public:
  std::optional<FileStatus> Status(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    FileStatus status;
    status.is_directory = S_ISDIR(st.st_mode);
    status.read_only = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    status.size = static_cast<uint64_t>(st.st_size);
    return status;
  }

  bool MakeDirectory(const std::string& path) override { return ::mkdir(path.c_str(), 0777) == 0; }

  bool RemoveDirectory(const std::string& path) override { return ::rmdir(path.c_str()) == 0; }

  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    while (const dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      // A link to a folder is removed as a link, never followed into.
      bool is_directory = ::lstat((path + '/' + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      entries.push_back({std::move(name), is_directory});
    }
    ::closedir(dir);
    return entries;
  }

  ReadOutcome ReadFile(const std::string& path, size_t limit, std::string& bytes) override {
    bytes.clear();
    // Opening a named pipe to read waits until something opens it to write, which may be never;
    // without waiting, a pipe nobody writes to reads as empty. Reads wait as before.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ReadOutcome::kCannotOpen;
    struct stat st;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0 || ::fstat(fd, &st) != 0 ||
        S_ISDIR(st.st_mode)) {
      ::close(fd);
      return ReadOutcome::kCannotOpen;
    }
    // One byte more than the limit tells a file that is too large from one that fits exactly.
    // The buffer starts at the file's present size, one byte more to meet its end: each page of
    // it is touched and costs a page fault, so a small file must not pay for the limit. It grows
    // should the file have grown since.
    const size_t most = limit + 1;
    bytes.resize(static_cast<size_t>(std::min<uint64_t>(st.st_size, limit)) + 1);
    size_t filled = 0;
    while (true) {
      if (filled == bytes.size()) {
        if (bytes.size() == most) break;
        bytes.resize(std::min(bytes.size() * 2, most));
      }
      ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
      if (got < 0) {
        if (errno == EINTR) continue;
        ::close(fd);
        bytes.clear();
        return ReadOutcome::kCannotOpen;
      }
      if (got == 0) break;
      filled += static_cast<size_t>(got);
    }
    ::close(fd);
    if (filled > limit) {
      bytes.resize(limit);
      return ReadOutcome::kTooLarge;
    }
    bytes.resize(filled);
    return ReadOutcome::kOk;
  }

  std::unique_ptr<WritableFile> CreateFile(const std::string& path) override {
    // As for reading: a named pipe in the file's place must not wait for a reader that may never
    // come. Without one it cannot be opened at all; writes wait as before.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0) return nullptr;
    if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixWritableFile>(fd);
  }

  bool Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The new name is durable only once the folder that holds it is.
    int dir = ::open(ParentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      ::fsync(dir);
      ::close(dir);
    }
    return true;
  }

  bool DeleteFile(const std::string& path) override {
    // A read-only mark protects a file from deletion here as it does on Windows, whoever runs us.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
      return false;
    }
    return ::unlink(path.c_str()) == 0;
  }

  bool ClearReadOnly(const std::string& path) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
  }

  std::unique_ptr<FileLock> TryLock(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixFileLock>(fd);
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace quorvane
