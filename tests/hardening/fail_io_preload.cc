// Loaded with LD_PRELOAD into the real executable to make one kind of system call fail for paths
// that end in a chosen name, the way a file held open without sharing or an immutable folder
// would. Tests run as root, where permission bits stop nothing, so this is how an end-to-end test
// meets an unreadable input file or one that cannot be deleted.
//
//   QUORVANE_FAIL_OPEN=<name>       open() of a path ending in <name> fails with EACCES
//   QUORVANE_FAIL_OPEN_WRITE=<name> the same, only for opens to write (a file the user may read
//                                   but not write)
//   QUORVANE_FAIL_UNLINK=<name>     unlink() of a path ending in <name>, or renameat2() of one to
//                                   another name, fails with EPERM (a folder the user may not
//                                   write)
//   QUORVANE_FAIL_READ=<name>       read() of a file whose path ends in <name> fails with EIO, as
//                                   on a damaged disk
//   QUORVANE_FAIL_LARGE_MAP=<n>     the n-th anonymous mmap() of 1 MiB or more fails with ENOMEM,
//                                   so that one chosen large allocation meets a full memory
//   QUORVANE_GONE_AFTER_STAT=<name> a stat() of a path ending in <name> that follows links is
//                                   at once followed by the file's deletion, as when another
//                                   copy deletes it right then
//   QUORVANE_GONE_BEFORE_OPEN=<name> an open() to read a path ending in <name> finds the file
//                                   just deleted, the same way
//   QUORVANE_FAIL_LEASE=1           no lease can be had (EINVAL), as on a file system without them
//   QUORVANE_SLOW_RENAME=<ms>       rename() waits that long first, which holds a run at the
//                                   moment its result is about to appear
//   QUORVANE_SLOW_READ=<name>       the first read() of a file whose path ends in <name> waits
//                                   QUORVANE_SLOW_READ_MS milliseconds first, after creating the
//                                   file QUORVANE_SLOW_READ_STARTED when that is set, so that a
//                                   test knows the read has begun
//   QUORVANE_FAIL_UNLINK_ONLY=<name> unlink() of a path ending in <name> fails with EPERM, while
//                                   renames of it go through
//   QUORVANE_NO_RENAME_FLAGS=1      renameat2() with flags fails with EINVAL, as on FUSE and
//                                   network file systems
//   QUORVANE_NO_HARD_LINKS=1        link() and linkat() fail with EPERM, as on vfat
//   QUORVANE_REWRITE=<name>         the file whose path ends in <name> is rewritten in place by
//                                   "another program", same size, its times set back, just
//   QUORVANE_REWRITE_AT=read|rename before its first read(), or before the first rename()
//   QUORVANE_DROP_AFTER_CLAIM=<b>   once a file is renamed to a name ending in ".claim", a new
//                                   file holding <b> appears under its old name
//   QUORVANE_PAUSE_AFTER_CLAIM_MS=<ms> once a file is renamed to a name ending in ".claim", the
//                                   process creates the file QUORVANE_PAUSED (when set) and
//                                   waits that long
//   QUORVANE_FAIL_FOLDER_LOCK=1     flock() of a folder fails with ENOLCK: no lock can be had
//   QUORVANE_DISK_FULL=<name>       write() to a file whose path ends in <name> fails with
//                                   ENOSPC, as on a full disk
//   QUORVANE_WRITES_NOTHING=<name>  write() to a file whose path ends in <name> writes no byte
//                                   and returns 0, as a broken file system may
//   QUORVANE_FILE_SIZE_LIMIT=<n>    the process may write files of at most n bytes (ulimit -f)
//   QUORVANE_MEMORY_HEADROOM=<n>    the process may map at most n bytes more than it has at start
//                                   (ulimit -v)
// Renames that the executable asks through syscall() meet the same faults as through their
// wrappers.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool Matches(const char* variable, const char* path) {
  const char* name = std::getenv(variable);
  if (name == nullptr || *name == '\0' || path == nullptr) return false;
  size_t path_length = std::strlen(path);
  size_t name_length = std::strlen(name);
  return path_length >= name_length && std::strcmp(path + path_length - name_length, name) == 0;
}

template <typename Function>
Function Next(const char* symbol) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, symbol));
}

// The descriptor of the file whose first read is held back; -1: none (yet, or any more).
int slow_read_fd = -1;
// The file that "another program" rewrites (QUORVANE_REWRITE), as it was opened; its descriptor.
char rewrite_path[4096];
int rewrite_fd = -1;
// The descriptor of the file whose reads fail; -1: none.
int failing_read_fd = -1;
// The descriptor of the file on a "full disk"; -1: none.
int full_disk_fd = -1;
// The descriptor of the file whose writes write nothing; -1: none.
int writes_nothing_fd = -1;

int OpenWith(const char* symbol, const char* path, int flags, va_list args) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) mode = va_arg(args, mode_t);
  const bool to_write = (flags & O_ACCMODE) != O_RDONLY;
  if (Matches("QUORVANE_FAIL_OPEN", path) ||
      (to_write && Matches("QUORVANE_FAIL_OPEN_WRITE", path))) {
    errno = EACCES;
    return -1;
  }
  if (!to_write && Matches("QUORVANE_GONE_BEFORE_OPEN", path)) {
    static auto real_unlink = Next<int (*)(const char*)>("unlink");
    real_unlink(path);
  }
  static auto real_open = Next<int (*)(const char*, int, ...)>("open");
  static auto real_open64 = Next<int (*)(const char*, int, ...)>("open64");
  auto real = std::strcmp(symbol, "open") == 0 ? real_open : real_open64;
  const int fd = real(path, flags, mode);
  if (fd >= 0 && Matches("QUORVANE_SLOW_READ", path)) slow_read_fd = fd;
  if (fd >= 0 && !to_write && rewrite_fd < 0 && Matches("QUORVANE_REWRITE", path)) {
    rewrite_fd = fd;
    std::snprintf(rewrite_path, sizeof rewrite_path, "%s", path);
  }
  if (fd >= 0 && Matches("QUORVANE_FAIL_READ", path)) failing_read_fd = fd;
  if (fd >= 0 && to_write && Matches("QUORVANE_DISK_FULL", path)) full_disk_fd = fd;
  if (fd >= 0 && to_write && Matches("QUORVANE_WRITES_NOTHING", path)) writes_nothing_fd = fd;
  return fd;
}

// The process's virtual memory size now, from /proc/self/status; 0 when unknown.
rlim_t MappedBytes() {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return 0;
  char line[256];
  rlim_t kilobytes = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "VmSize:", 7) == 0) kilobytes = std::strtoull(line + 7, nullptr, 10);
  }
  std::fclose(status);
  return kilobytes * 1024;
}

void SetLimit(int resource, rlim_t value) {
  const rlimit limit = {value, value};
  ::setrlimit(resource, &limit);
}

__attribute__((constructor)) void ApplyLimits() {
  if (const char* bytes = std::getenv("QUORVANE_FILE_SIZE_LIMIT")) {
    SetLimit(RLIMIT_FSIZE, std::strtoull(bytes, nullptr, 10));
  }
  if (const char* bytes = std::getenv("QUORVANE_MEMORY_HEADROOM")) {
    SetLimit(RLIMIT_AS, MappedBytes() + std::strtoull(bytes, nullptr, 10));
  }
}

int FcntlWith(const char* symbol, int fd, int command, va_list args) {
  if (command == F_SETLEASE && std::getenv("QUORVANE_FAIL_LEASE") != nullptr) {
    errno = EINVAL;
    return -1;
  }
  // The third argument is an int, a pointer or nothing; passed on as a word it is any of them.
  const unsigned long argument = va_arg(args, unsigned long);
  static auto real_fcntl = Next<int (*)(int, int, ...)>("fcntl");
  static auto real_fcntl64 = Next<int (*)(int, int, ...)>("fcntl64");
  auto real =
      std::strcmp(symbol, "fcntl") == 0 || real_fcntl64 == nullptr ? real_fcntl : real_fcntl64;
  return real(fd, command, argument);
}

bool Set(const char* variable) { return std::getenv(variable) != nullptr; }

// What another program does to the input at the moment named by QUORVANE_REWRITE_AT: writes it
// anew in place, the same size with each digit flipped, and sets its times back, as a careless or
// hostile writer can. Only the status change time tells.
void RewriteIfDue(const char* moment) {
  const char* at = std::getenv("QUORVANE_REWRITE_AT");
  if (rewrite_fd < 0 || at == nullptr || std::strcmp(at, moment) != 0) return;
  rewrite_fd = -2;  // once
  static auto real_open = Next<int (*)(const char*, int, ...)>("open");
  static auto real_read = Next<ssize_t (*)(int, void*, size_t)>("read");
  struct stat before;
  if (::stat(rewrite_path, &before) != 0) return;
  const int fd = real_open(rewrite_path, O_RDWR | O_CLOEXEC);
  if (fd < 0) return;
  char bytes[4096];
  const ssize_t got = real_read(fd, bytes, sizeof bytes);
  for (ssize_t i = 0; i < got; ++i) {
    if (bytes[i] == '0' || bytes[i] == '1') bytes[i] = static_cast<char>(bytes[i] ^ 1);
  }
  if (got > 0) ::pwrite(fd, bytes, static_cast<size_t>(got), 0);
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  ::futimens(fd, times);
  ::close(fd);
}

// What follows a file's move to a claim name (see QUORVANE_DROP_AFTER_CLAIM and
// QUORVANE_PAUSE_AFTER_CLAIM_MS).
void AfterMove(const char* from, const char* to) {
  const size_t length = std::strlen(to);
  if (length < 6 || std::strcmp(to + length - 6, ".claim") != 0) return;
  if (const char* bytes = std::getenv("QUORVANE_DROP_AFTER_CLAIM")) {
    static auto real_open = Next<int (*)(const char*, int, ...)>("open");
    const int fd = real_open(from, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      static_cast<void>(::write(fd, bytes, std::strlen(bytes)));
      ::close(fd);
    }
  }
  if (const char* delay = std::getenv("QUORVANE_PAUSE_AFTER_CLAIM_MS")) {
    if (const char* paused = std::getenv("QUORVANE_PAUSED")) {
      static auto real_open = Next<int (*)(const char*, int, ...)>("open");
      ::close(real_open(paused, O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    }
    ::usleep(static_cast<useconds_t>(std::atoi(delay)) * 1000);
  }
}

}  // namespace

extern "C" {

int fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  int result = FcntlWith("fcntl", fd, command, args);
  va_end(args);
  return result;
}

int fcntl64(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  int result = FcntlWith("fcntl64", fd, command, args);
  va_end(args);
  return result;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  int fd = OpenWith("open", path, flags, args);
  va_end(args);
  return fd;
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  int fd = OpenWith("open64", path, flags, args);
  va_end(args);
  return fd;
}

int rename(const char* from, const char* to) {
  if (const char* delay = std::getenv("QUORVANE_SLOW_RENAME")) {
    ::usleep(static_cast<useconds_t>(std::atoi(delay)) * 1000);
  }
  RewriteIfDue("rename");
  static auto real = Next<int (*)(const char*, const char*)>("rename");
  const int result = real(from, to);
  if (result == 0) AfterMove(from, to);
  return result;
}

ssize_t read(int fd, void* buffer, size_t size) {
  if (fd == failing_read_fd) {
    errno = EIO;
    return -1;
  }
  if (fd == rewrite_fd) RewriteIfDue("read");
  if (fd == slow_read_fd) {
    slow_read_fd = -1;
    if (const char* started = std::getenv("QUORVANE_SLOW_READ_STARTED")) {
      static auto real_open = Next<int (*)(const char*, int, ...)>("open");
      ::close(real_open(started, O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    }
    const char* delay = std::getenv("QUORVANE_SLOW_READ_MS");
    ::usleep(static_cast<useconds_t>(delay != nullptr ? std::atoi(delay) : 0) * 1000);
  }
  static auto real = Next<ssize_t (*)(int, void*, size_t)>("read");
  return real(fd, buffer, size);
}

ssize_t write(int fd, const void* buffer, size_t size) {
  if (fd == full_disk_fd) {
    errno = ENOSPC;
    return -1;
  }
  if (fd == writes_nothing_fd && size > 0) return 0;
  static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  return real(fd, buffer, size);
}

int stat(const char* path, struct stat* status) {
  static auto real = Next<int (*)(const char*, struct stat*)>("stat");
  const int result = real(path, status);
  if (result == 0 && Matches("QUORVANE_GONE_AFTER_STAT", path)) {
    static auto real_unlink = Next<int (*)(const char*)>("unlink");
    real_unlink(path);
  }
  return result;
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
  if (Matches("QUORVANE_FAIL_UNLINK", from)) {
    errno = EPERM;
    return -1;
  }
  if (flags != 0 && Set("QUORVANE_NO_RENAME_FLAGS")) {
    errno = EINVAL;
    return -1;
  }
  static auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  const int result = real(from_dir, from, to_dir, to, flags);
  if (result == 0) AfterMove(from, to);
  return result;
}

int link(const char* from, const char* to) {
  if (Set("QUORVANE_NO_HARD_LINKS")) {
    errno = EPERM;
    return -1;
  }
  static auto real = Next<int (*)(const char*, const char*)>("link");
  return real(from, to);
}

int linkat(int from_dir, const char* from, int to_dir, const char* to, int flags) {
  if (Set("QUORVANE_NO_HARD_LINKS")) {
    errno = EPERM;
    return -1;
  }
  static auto real = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  return real(from_dir, from, to_dir, to, flags);
}

int flock(int fd, int operation) {
  struct stat st;
  if (Set("QUORVANE_FAIL_FOLDER_LOCK") && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = ENOLCK;
    return -1;
  }
  static auto real = Next<int (*)(int, int)>("flock");
  return real(fd, operation);
}

void* mmap(void* address, size_t length, int protection, int flags, int fd, off_t offset) {
  static int large_maps = 0;
  if ((flags & MAP_ANONYMOUS) != 0 && length >= (size_t{1} << 20)) {
    const char* failing = std::getenv("QUORVANE_FAIL_LARGE_MAP");
    if (++large_maps == (failing != nullptr ? std::atoi(failing) : 0)) {
      errno = ENOMEM;
      return MAP_FAILED;
    }
  }
  static auto real = Next<void* (*)(void*, size_t, int, int, int, off_t)>("mmap");
  return real(address, length, protection, flags, fd, offset);
}

int unlink(const char* path) {
  if (Matches("QUORVANE_FAIL_UNLINK", path) || Matches("QUORVANE_FAIL_UNLINK_ONLY", path)) {
    errno = EPERM;
    return -1;
  }
  static auto real = Next<int (*)(const char*)>("unlink");
  return real(path);
}

long syscall(long number, ...) {
  // Six words, whatever the call takes: passed on, the unused ones are ignored.
  va_list args;
  va_start(args, number);
  long word[6];
  for (long& w : word) w = va_arg(args, long);
  va_end(args);
  switch (number) {
#if defined(SYS_rename)
    case SYS_rename:
      return rename(reinterpret_cast<const char*>(word[0]), reinterpret_cast<const char*>(word[1]));
#endif
    case SYS_renameat2:
      return renameat2(static_cast<int>(word[0]), reinterpret_cast<const char*>(word[1]),
                       static_cast<int>(word[2]), reinterpret_cast<const char*>(word[3]),
                       static_cast<unsigned>(word[4]));
    default:
      break;
  }
  static auto real = Next<long (*)(long, ...)>("syscall");
  return real(number, word[0], word[1], word[2], word[3], word[4], word[5]);
}

}  // extern "C"
