#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>  // RENAME_NOREPLACE
#include <cstring>
#include <utility>

#include "storage/descriptor_io_posix.h"
#include "storage/file_buffer.h"
#include "storage/file_system.h"
#include "storage/kernel_calls_linux.h"

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

int64_t Nanoseconds(const struct timespec& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

FileStamp StampOf(const struct stat& st) {
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
          static_cast<uint64_t>(st.st_size), Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim)};
}

// Whether the file system said it has no renameat2 flags (FUSE, and with it NFS, 9p, sshfs).
bool NoRenameFlags(int error) { return error == EINVAL || error == ENOSYS; }

// Moves `from` to `to` without ever replacing what stands at `to` (errno EEXIST then). Where the
// file system has no such rename, a second name is made (link never replaces either) and the
// first removed; a link is moved as a link.
bool MoveNoReplace(const std::string& from, const std::string& to) {
  if (kernel::Renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (!NoRenameFlags(errno)) return Failed(FileOperation::kRename, from, errno);
  if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), 0) != 0) {
    return Failed(FileOperation::kRename, from, errno);
  }
  if (::unlink(from.c_str()) == 0) return true;
  // Both names lead to the file; the new one, made here a moment ago, goes again.
  const int error = errno;
  ::unlink(to.c_str());
  errno = error;
  return Failed(FileOperation::kDelete, from, error);
}

// Moves `from` to the fresh private name `to`. Where the file system has no renameat2 flags, a
// plain rename to a name checked absent the moment before stands in: what it moved is checked
// right after (Leads), and nobody but a hostile program makes a file under a random private name.
// errno ENOENT: `from` is gone; EEXIST: `to` is taken, try another.
bool MoveAside(const std::string& from, const std::string& to) {
  if (kernel::Renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (!NoRenameFlags(errno)) return Failed(FileOperation::kRename, from, errno);
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) {
    errno = EEXIST;
    return Failed(FileOperation::kRename, from, EEXIST);
  }
  return kernel::Rename(from.c_str(), to.c_str()) == 0 ||
         Failed(FileOperation::kRename, from, errno);
}

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  bool Write(std::string_view bytes) override {
    return WriteAll(fd_.get(), bytes) || Failed(FileOperation::kWrite, path_, errno);
  }
  bool Flush() override {
    return ::fdatasync(fd_.get()) == 0 || Failed(FileOperation::kFlush, path_, errno);
  }
  bool Close() override { return fd_.Close() || Failed(FileOperation::kClose, path_, errno); }

 private:
  Descriptor fd_;
  std::string path_;
};

class PosixFileLock final : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}  // closing the descriptor releases the lock

 private:
  Descriptor fd_;
};

// A file's bytes, read (never mapped: a disk error is then a failed read, and nobody's truncate
// can raise a signal here) under a read lease where one can be had, and held until the file is
// released or deleted. It is also held with a shared flock, which tells a later start that a
// claim of it belongs to a copy still at work (CheckClaim).
class PosixFileView final : public FileView {
 public:
  PosixFileView(int fd, bool leased, const struct stat& st, std::string path)
      : fd_(fd),
        leased_(leased),
        stamp_(StampOf(st)),
        permissions_(st.st_mode & 0777),
        path_(std::move(path)) {}
  ~PosixFileView() override { static_cast<void>(Release()); }

  FileSystem::ReadOutcome Load(size_t limit) {
    using ReadOutcome = FileSystem::ReadOutcome;
    if (stamp_.size > limit) return ReadOutcome::kTooLarge;
    // One byte of room more than the size tells a file that grew since its size was asked (only
    // possible without a lease) from one that did not.
    const auto size = static_cast<size_t>(stamp_.size);
    buffer_ = FileBuffer(size + 1);
    buffer_.Prepare(size + 1);
    size_t filled = 0;
    while (filled < buffer_.capacity()) {
      const size_t asked = buffer_.capacity() - filled;
      ssize_t got = ::read(fd_.get(), buffer_.data() + filled, asked);
      if (got < 0) {
        if (errno == EINTR) continue;
        Failed(FileOperation::kRead, path_, errno);
        return ReadOutcome::kCannotOpen;
      }
      if (got == 0) break;
      filled += static_cast<size_t>(got);
      // A plain file's read falls short at its end: where that is the size it had, the read that
      // would say so again is saved. A file that grew since shows in its status below.
      if (filled == size && static_cast<size_t>(got) < asked) break;
    }
    // Bytes that changed under the read are not the file's: without a lease it was written
    // meanwhile. Under a lease nobody can write it, but a file system that does not keep leases
    // for every path (overlayfs) may let a truncate through all the same.
    if (filled != size || !SameState(/*renamed=*/false)) {
      Failed(FileOperation::kRead, path_, FileFailure::kChangedWhileRead);
      return ReadOutcome::kBusy;
    }
    bytes_ = std::string_view(buffer_.data(), filled);
    return ReadOutcome::kOk;
  }

  std::string_view bytes() const override { return bytes_; }
  const FileStamp& stamp() const override { return stamp_; }
  uint32_t permissions() const override { return permissions_; }
  std::string left_under() const override { return left_under_; }

  bool Release() override {
    if (!fd_.valid()) return unchanged_;
    unchanged_ = Unwritten(/*renamed=*/false);
    LetGo();
    return unchanged_;
  }

  DeleteOutcome Delete() override {
    const DeleteOutcome outcome = Claim();
    LetGo();
    return outcome;
  }

 private:
  // Nobody has written the file, or asked to, since it was read: the lease is unbroken (while a
  // break is pending F_GETLEASE no longer says F_RDLCK), and its size and time are as they were.
  bool Unwritten(bool renamed) const {
    if (leased_ && ::fcntl(fd_.get(), F_GETLEASE) != F_RDLCK) return false;
    return SameState(renamed);
  }
  // Without a lease, every write since the read shows in the status change time, which no writer
  // can set back, until the file is renamed (which moves it too); after that only its size and
  // modification time can tell. Under a lease nobody wrote it, and a mere change of its mode or
  // links is no reason to keep it.
  bool SameState(bool renamed) const {
    struct stat now;
    if (kernel::Fstat(fd_.get(), &now) != 0) return false;
    const FileStamp stamp = StampOf(now);
    return leased_ || renamed ? stamp.SameContentsAs(stamp_) : stamp == stamp_;
  }

  // The name is moved to a private one first: from then on no program reaches the file by its
  // public name, so what is checked next is what gets deleted. Then the private name must still
  // lead to the file that was read, and the file must still be unwritten.
  DeleteOutcome Claim() {
    // Without a lease only the status change time can tell a write, and the claim's rename moves
    // it: it is compared before. Under a lease the check after the claim sees every write as
    // well (a broken lease stays broken), and a file found written then is put back.
    if (!leased_ && !Unwritten(/*renamed=*/false)) return DeleteOutcome::kChanged;
    std::string claim;
    for (int attempt = 0;; ++attempt) {
      claim = NewClaimPathFor(path_);
      if (MoveAside(path_, claim)) break;
      const int error = LastFileError().code;
      if (error == ENOENT) return DeleteOutcome::kNotFound;  // taken by another copy
      if (error != EEXIST || attempt == 100) return DeleteOutcome::kFailed;
    }
    struct stat now;
    if (kernel::Fstat(fd_.get(), &now) != 0 || !Leads(claim, now)) {
      PutBack(claim);
      return DeleteOutcome::kReplaced;
    }
    const bool lease_held = !leased_ || ::fcntl(fd_.get(), F_GETLEASE) == F_RDLCK;
    if (!lease_held || !StampOf(now).SameContentsAs(stamp_)) {
      PutBack(claim);
      return DeleteOutcome::kChanged;
    }
    if (::unlink(claim.c_str()) != 0) {
      Failed(FileOperation::kDelete, claim, errno);
      const FileError cause = LastFileError();
      PutBack(claim);
      LastFileError() = cause;
      return DeleteOutcome::kFailed;
    }
    return DeleteOutcome::kDeleted;
  }

  // Whether `name` is the file read, as `opened` describes it now: the file itself, or a link to
  // it (which is what gets deleted then, never its target).
  static bool Leads(const std::string& name, const struct stat& opened) {
    struct stat named;
    if (::lstat(name.c_str(), &named) != 0) return false;
    if (S_ISLNK(named.st_mode) && ::stat(name.c_str(), &named) != 0) return false;
    return named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
  }

  // Back under the public name, unless something new stands there (or the file system cannot
  // move it without the risk of replacing it): then it stays under its private name, which the
  // run reports, and a later start puts it back.
  void PutBack(const std::string& claim) {
    struct stat st;
    if (!MoveNoReplace(claim, path_) && ::lstat(claim.c_str(), &st) == 0) left_under_ = claim;
  }

  // Closing the descriptor ends the lease and the flock with it.
  void LetGo() {
    if (!fd_.valid()) return;
    bytes_ = {};
    buffer_ = FileBuffer();
    fd_.Close();
  }

  Descriptor fd_;
  bool leased_;
  FileStamp stamp_;
  uint32_t permissions_;
  std::string path_;
  std::string left_under_;
  FileBuffer buffer_;
  std::string_view bytes_;
  bool unchanged_ = false;
};

// The running process's effective user, as the kernel handed it over at the start: no system
// call, where a short run counts every one.
uid_t EffectiveUser() {
  const int saved = errno;
  errno = 0;
  const unsigned long user = ::getauxval(AT_EUID);
  const uid_t effective = errno == 0 ? static_cast<uid_t>(user) : ::geteuid();
  errno = saved;
  return effective;
}

// A lease break is announced with SIGIO, which would end the process; the break itself is
// noticed by asking for the lease after the read.
void IgnoreLeaseBreakSignal() {
  static const bool ignored = [] {
    // Set in one call; a handler of someone else's (none in Quorvane itself) is put back.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    if (::sigaction(SIGIO, &ignore, &previous) == 0 && previous.sa_handler != SIG_DFL) {
      ::sigaction(SIGIO, &previous, nullptr);
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
    status.owned = st.st_uid == EffectiveUser();
    status.permissions = st.st_mode & 0777;
    status.stamp = StampOf(st);
    return status;
  }

  bool MakeDirectory(const std::string& path) override {
    if (::mkdir(path.c_str(), 0777) != 0) return Failed(FileOperation::kMakeFolder, path, errno);
    // A umask that takes the owner's own rights away would lock every later run out of it.
    Descriptor dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (dir.valid() && kernel::Fstat(dir.get(), &st) == 0 && (st.st_mode & S_IRWXU) != S_IRWXU) {
      ::fchmod(dir.get(), (st.st_mode & 07777) | S_IRWXU);
    }
    return true;
  }

  bool RemoveDirectory(const std::string& path) override {
    return ::rmdir(path.c_str()) == 0 || Failed(FileOperation::kRemoveFolder, path, errno);
  }

  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    // The names are read straight into a buffer on the stack: opendir would first allocate
    // 32 KiB and ask for the folder's status, which costs more than listing a small folder. 1 KiB
    // holds a drop folder's few names in one call (and any one name); a larger buffer would reach
    // a fresh page of the stack, a page fault that costs a short run more than a few more calls
    // cost a large folder.
    Descriptor dir(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) {
      Failed(FileOperation::kList, path, errno);
      return std::nullopt;
    }
    std::vector<DirectoryEntry> entries;
    alignas(dirent64) char buffer[1024];
    for (;;) {
      const ssize_t got = kernel::Getdents64(dir.get(), buffer, sizeof buffer);
      if (got == 0) break;
      if (got < 0) {
        if (errno == EINTR) continue;
        Failed(FileOperation::kList, path, errno);
        return std::nullopt;
      }
      for (ssize_t at = 0; at < got;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
        at += entry->d_reclen;
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        // A link is listed as neither: it is removed as a link, never followed. The kind comes
        // with the name on most file systems; only where it does not is it asked for.
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
          struct stat st;
          if (::fstatat(dir.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
          }
        }
        entries.push_back({std::move(name), type == DT_DIR, type == DT_REG});
      }
    }
    return entries;
  }

  ReadOutcome ViewFile(const std::string& path, size_t limit,
                       std::unique_ptr<FileView>& view) override {
    // Opening a named pipe waits for a writer that may never come, so nothing waits here, and
    // only a plain file is viewed at all.
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
      Failed(FileOperation::kOpen, path, errno);
      return ReadOutcome::kCannotOpen;
    }
    // A read lease cannot be had while anyone holds the file open for writing: a caller still
    // writing its file is never read half-way. Where no lease can be had (another user's file, a
    // file system without leases; anything but a plain file) the file must at least not change
    // while it is read.
    IgnoreLeaseBreakSignal();
    const bool leased = ::fcntl(fd.get(), F_SETLEASE, F_RDLCK) == 0;
    if (!leased && errno == EAGAIN) {
      Failed(FileOperation::kOpen, path, FileFailure::kHeldForWriting);
      return ReadOutcome::kBusy;
    }
    // Under the lease the file is what it will stay; it may have been written just before.
    struct stat st;
    if (kernel::Fstat(fd.get(), &st) != 0) {
      Failed(FileOperation::kOpen, path, errno);
      return ReadOutcome::kCannotOpen;
    }
    if (!S_ISREG(st.st_mode)) {
      Failed(FileOperation::kOpen, path, FileFailure::kNotAPlainFile);
      return ReadOutcome::kCannotOpen;
    }
    // Held for as long as the view lives: a later start that finds the file under a claim name
    // learns that this copy is still at work (CheckClaim). A file that someone else holds
    // locked exclusively is read all the same; that lock says the same to a later start.
    ::flock(fd.get(), LOCK_SH | LOCK_NB);
    auto posix_view = std::make_unique<PosixFileView>(fd.Release(), leased, st, path);
    const ReadOutcome outcome = posix_view->Load(limit);
    if (outcome == ReadOutcome::kOk) {
      view = std::move(posix_view);
    } else {
      static_cast<void>(posix_view->Release());
    }
    return outcome;
  }

  std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                const std::optional<FileStatus>& replaced,
                                                std::string& path, uint32_t readable) override {
    // O_EXCL with O_NOFOLLOW: whatever stands under a name (a file, a link, a hard link to a file
    // elsewhere, a pipe) makes the creation fail, and another name is tried.
    for (int attempt = 0; attempt < 100; ++attempt) {
      path = NewTemporaryPathFor(target);
      const int fd =
          ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd < 0) {
        if (errno == EEXIST) continue;
        Failed(FileOperation::kCreate, path, errno);
        return nullptr;
      }
      auto file = std::make_unique<PosixWritableFile>(fd, path);
      struct stat created;
      if (kernel::Fstat(fd, &created) == 0) {
        // The umask decides, unless the file replaced is a plain file of this user's own: a
        // mode that someone else chose (a file planted in a shared folder, a link's target)
        // never decides who reads this user's results.
        mode_t mode = created.st_mode & 0777;
        if (replaced && !replaced->is_link && replaced->is_regular && replaced->owned) {
          mode = static_cast<mode_t>(replaced->permissions);
        }
        mode |= S_IRUSR | S_IWUSR;
        mode &= ~((S_IRGRP | S_IROTH) & ~static_cast<mode_t>(readable));
        if (mode != (created.st_mode & 0777)) ::fchmod(fd, mode);
      }
      return file;
    }
    Failed(FileOperation::kCreate, path, EEXIST);
    return nullptr;
  }

  bool Rename(const std::string& from, const std::string& to) override {
    return kernel::Rename(from.c_str(), to.c_str()) == 0 ||
           Failed(FileOperation::kRename, to, errno);
  }

  bool RenameNoReplace(const std::string& from, const std::string& to) override {
    return MoveNoReplace(from, to);
  }

  bool SyncDirectory(const std::string& path) override {
    Descriptor dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return (dir.valid() && ::fsync(dir.get()) == 0) ||
           Failed(FileOperation::kSyncFolder, path, errno);
  }

  bool DeleteFile(const std::string& path) override {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & kAnyWrite) == 0) {
      return Failed(FileOperation::kDelete, path, FileFailure::kMarkedReadOnly);
    }
    return ::unlink(path.c_str()) == 0 || Failed(FileOperation::kDelete, path, errno);
  }

  LockAttempt TryLock(const std::string& folder) override {
    // The folder itself, opened only to read: everyone who may read it can lock it, nobody can
    // leave a file behind that blocks the lock, and nobody can swap it under a copy at work
    // without the right to write its parent.
    LockAttempt attempt;
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return attempt;
    if (::flock(dir.get(), LOCK_EX | LOCK_NB) != 0) {
      attempt.held_elsewhere = errno == EWOULDBLOCK;
      return attempt;
    }
    attempt.lock = std::make_unique<PosixFileLock>(dir.Release());
    return attempt;
  }

  ClaimCheck CheckClaim(const std::string& path) override {
    // The copy that claimed the file holds it with a shared flock while it works (a link's target
    // for a link); an exclusive one can be had only once that copy has ended. Opening it never
    // waits, and what is not a plain file was never read by any copy.
    ClaimCheck check;
    Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st;
    if (!file.valid() || kernel::Fstat(file.get(), &st) != 0) {
      Failed(FileOperation::kOpen, path, errno);
      return check;
    }
    if (!S_ISREG(st.st_mode)) {
      check.state = ClaimState::kAbandoned;
      return check;
    }
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) check.state = ClaimState::kHeld;
      Failed(FileOperation::kLock, path, errno);
      return check;
    }
    check.state = ClaimState::kAbandoned;
    check.hold = std::make_unique<PosixFileLock>(file.Release());
    return check;
  }
};

}  // namespace

std::string SystemErrorText(int code) {
  char buffer[256];
  // The GNU strerror_r, which answers in the language of LC_MESSAGES where libc has one.
  return ::strerror_r(code, buffer, sizeof buffer);
}

FileSystem& RealFileSystem() {
  static PosixFileSystem file_system;
  return file_system;
}

}  // namespace quorvane
