#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "storage/file_system.h"

namespace quorvane {
namespace {

constexpr mode_t kAnyWrite = S_IWUSR | S_IWGRP | S_IWOTH;

// Owns a file descriptor; closes it at the end of its scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { Close(); }

  bool valid() const { return fd_ >= 0; }
  int get() const { return fd_; }
  // Hands the descriptor over to a new owner.
  int Release() { return std::exchange(fd_, -1); }
  bool Close() {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

FileStamp StampOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
          static_cast<uint64_t>(st.st_size),
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

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
  bool Write(std::string_view bytes) override { return WriteAll(fd_.get(), bytes); }
  bool Flush() override { return ::fdatasync(fd_.get()) == 0; }
  bool Close() override { return fd_.Close(); }

 private:
  Descriptor fd_;
};

class PosixFileLock final : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}  // closing the descriptor releases the lock

 private:
  Descriptor fd_;
};

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A file's bytes under a read lease, or a copy checked against the file's state afterwards.
class PosixFileView final : public FileView {
 public:
  PosixFileView(int fd, bool leased, const struct stat& st)
      : fd_(fd), leased_(leased), before_(st), stamp_(StampOf(st)) {}
  ~PosixFileView() override { static_cast<void>(Release()); }

  FileSystem::ReadOutcome Load(size_t limit) {
    using ReadOutcome = FileSystem::ReadOutcome;
    const auto size = static_cast<uint64_t>(before_.st_size);
    if (size > limit) return ReadOutcome::kTooLarge;
    // Under the lease nobody can write the file, nor cut it short under the mapping, so a large
    // file is mapped with its pages in place at once: no copy, and no page faults to fill a
    // buffer of its size.
    if (leased_ && size >= kMapFrom) {
      void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_.get(), 0);
      if (map != MAP_FAILED) {
        map_ = map;
        bytes_ = std::string_view(static_cast<const char*>(map), size);
        return ReadOutcome::kOk;
      }
    }
    // One byte more than the limit tells a file that is too large from one that fits exactly;
    // without a lease the file may have grown since its size was asked.
    const size_t most = limit + 1;
    copy_.resize(static_cast<size_t>(size) + 1);
    size_t filled = 0;
    while (true) {
      if (filled == copy_.size()) {
        if (copy_.size() == most) break;
        copy_.resize(std::min(copy_.size() * 2, most));
      }
      ssize_t got = ::read(fd_.get(), copy_.data() + filled, copy_.size() - filled);
      if (got < 0) {
        if (errno == EINTR) continue;
        return ReadOutcome::kCannotOpen;
      }
      if (got == 0) break;
      filled += static_cast<size_t>(got);
    }
    if (filled > limit) return ReadOutcome::kTooLarge;
    copy_.resize(filled);
    bytes_ = copy_;
    if (filled != size) grew_ = true;  // changed between the size query and the read
    return ReadOutcome::kOk;
  }

  std::string_view bytes() const override { return bytes_; }
  const FileStamp& stamp() const override { return stamp_; }

  bool Release() override {
    if (!fd_.valid()) return unchanged_;
    if (leased_) {
      // Somebody opened it for writing while it was viewed: the lease is being broken.
      unchanged_ = ::fcntl(fd_.get(), F_GETLEASE) == F_RDLCK;
      ::fcntl(fd_.get(), F_SETLEASE, F_UNLCK);
    } else {
      struct stat after;
      unchanged_ = !grew_ && ::fstat(fd_.get(), &after) == 0 && StampOf(after) == stamp_;
    }
    if (map_ != nullptr) ::munmap(map_, bytes_.size());
    map_ = nullptr;
    bytes_ = {};
    fd_.Close();
    return unchanged_;
  }

 private:
  // Below this size a copy costs less than setting up a mapping.
  static constexpr uint64_t kMapFrom = 64 * 1024;

  Descriptor fd_;
  bool leased_;
  struct stat before_;
  FileStamp stamp_;
  void* map_ = nullptr;
  std::string copy_;
  std::string_view bytes_;
  bool grew_ = false;
  bool unchanged_ = false;
};

// A lease break is announced with SIGIO, which would end the process; the break itself is
// noticed by asking for the lease after the read.
void IgnoreLeaseBreakSignal() {
  static const bool ignored = [] {
    struct sigaction current = {};
    if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
      ::signal(SIGIO, SIG_IGN);
    }
    return true;
  }();
  (void)ignored;
}

class PosixFileSystem final : public FileSystem {
 public:
  std::optional<FileStatus> Status(const std::string& path) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
    FileStatus status;
    if (S_ISLNK(st.st_mode)) {
      status.is_link = true;
      if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    }
    status.is_directory = S_ISDIR(st.st_mode);
    status.is_regular = S_ISREG(st.st_mode);
    status.read_only = (st.st_mode & kAnyWrite) == 0;
    status.stamp = StampOf(st);
    return status;
  }

  bool MakeDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) return false;
    // A umask that takes the owner's own rights away would lock every later run out of it.
    Descriptor dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (dir.valid() && ::fstat(dir.get(), &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU) {
      ::fchmod(dir.get(), (st.st_mode & 07777) | S_IRWXU);
    }
    return true;
  }

  bool RemoveDirectory(const std::string& path) override { return ::rmdir(path.c_str()) == 0; }

  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    while (const dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      // A link is listed as neither: it is removed as a link, never followed.
      const bool known = ::fstatat(::dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
      entries.push_back(
          {std::move(name), known && S_ISDIR(st.st_mode), known && S_ISREG(st.st_mode)});
    }
    ::closedir(dir);
    return entries;
  }

  ReadOutcome ViewFile(const std::string& path, size_t limit,
                       std::unique_ptr<FileView>& view) override {
    // Opening a named pipe waits for a writer that may never come, so nothing waits here, and
    // only a plain file is viewed at all.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st;
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      return ReadOutcome::kCannotOpen;
    }
    // A read lease cannot be had while anyone holds the file open for writing: a caller still
    // writing its file is never read half-way. Where no lease can be had (another user's file, a
    // file system without leases) the file must at least not change while it is read.
    IgnoreLeaseBreakSignal();
    const bool leased = ::fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0;
    if (!leased && errno == EAGAIN) return ReadOutcome::kBusy;
    // Under the lease the file is what it will stay; it may have been written just before.
    if (leased && ::fstat(fd.get(), &st) != 0) return ReadOutcome::kCannotOpen;
    auto posix_view = std::make_unique<PosixFileView>(fd.Release(), leased, st);
    const ReadOutcome outcome = posix_view->Load(limit);
    if (outcome == ReadOutcome::kOk) {
      view = std::move(posix_view);
    } else {
      static_cast<void>(posix_view->Release());
    }
    return outcome;
  }

  std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                std::string& path) override {
    // O_EXCL with O_NOFOLLOW: whatever stands under a name (a file, a link, a hard link to a file
    // elsewhere, a pipe) makes the creation fail, and another name is tried.
    for (int attempt = 0; attempt < 100; ++attempt) {
      path = NewTemporaryPathFor(target);
      const int fd =
          ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        return nullptr;
      }
      auto file = std::make_unique<PosixWritableFile>(fd);
      struct stat created, replaced;
      if (::fstat(fd, &created) == 0) {
        mode_t mode = created.st_mode & 0777;
        if (::lstat(target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
          mode = replaced.st_mode & 0777;
        }
        mode |= S_IRUSR | S_IWUSR;
        if (mode != (created.st_mode & 0777)) ::fchmod(fd, mode);
      }
      return file;
    }
    return nullptr;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return false;
    // The new name is durable only once the folder that holds it is.
    Descriptor dir(::open(ParentOf(to).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
    return true;
  }

  bool DeleteFile(const std::string& path) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & kAnyWrite) == 0) {
      return false;
    }
    return ::unlink(path.c_str()) == 0;
  }

  DeleteOutcome DeleteFileIfUnchanged(const std::string& path, const FileStamp& expected) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      return errno == ENOENT ? DeleteOutcome::kNotFound : DeleteOutcome::kFailed;
    }
    const FileStamp now = StampOf(st);
    if (now.device != expected.device || now.file != expected.file) {
      return DeleteOutcome::kReplaced;
    }
    if (now != expected) return DeleteOutcome::kChanged;
    // Another copy running without the lock may delete the file between any two of these
    // steps; that is "not found", not a failure.
    const auto failed = [] {
      return errno == ENOENT ? DeleteOutcome::kNotFound : DeleteOutcome::kFailed;
    };
    if (::lstat(path.c_str(), &st) != 0) return failed();
    if (S_ISREG(st.st_mode) && (st.st_mode & kAnyWrite) == 0) {
      // Cleared through a descriptor that cannot have been opened through a link.
      Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (!fd.valid()) return failed();
      struct stat opened;
      if (::fstat(fd.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
          ::fchmod(fd.get(), (opened.st_mode & 07777) | S_IWUSR) != 0) {
        return DeleteOutcome::kFailed;
      }
    }
    if (::unlink(path.c_str()) == 0) return DeleteOutcome::kDeleted;
    return failed();
  }

  LockAttempt TryLock(const std::string& path) override {
    // flock works on a descriptor opened only for reading, so a lock file left read-only (by a
    // run under sudo, or under umask 0222) still serves.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EACCES || errno == EROFS)) {
      fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    LockAttempt attempt;
    Descriptor lock_file(fd);
    struct stat st;
    if (!lock_file.valid() || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return attempt;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      attempt.held_elsewhere = errno == EWOULDBLOCK;
      return attempt;
    }
    attempt.lock = std::make_unique<PosixFileLock>(lock_file.Release());
    return attempt;
  }
};

}  // namespace

FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace quorvane
