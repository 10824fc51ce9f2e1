// Loaded with LD_PRELOAD into the real executable to make one kind of system call fail for paths
// that end in a chosen name, the way a file held open without sharing or an immutable folder
// would. Tests run as root, where permission bits stop nothing, so this is how an end-to-end test
// meets an unreadable input file or one that cannot be deleted.
//
//   QUORVANE_FAIL_OPEN=<name>    open() of a path ending in <name> fails with EACCES
//   QUORVANE_FAIL_UNLINK=<name>  unlink() of a path ending in <name> fails with EPERM
//   QUORVANE_SLOW_RENAME=<ms>    rename() waits that long first, which holds a run at the moment
//                                its result is about to appear
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
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

int OpenWith(const char* symbol, const char* path, int flags, va_list args) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) mode = va_arg(args, mode_t);
  if (Matches("QUORVANE_FAIL_OPEN", path)) {
    errno = EACCES;
    return -1;
  }
  static auto real_open = Next<int (*)(const char*, int, ...)>("open");
  static auto real_open64 = Next<int (*)(const char*, int, ...)>("open64");
  auto real = std::strcmp(symbol, "open") == 0 ? real_open : real_open64;
  return real(path, flags, mode);
}

}  // namespace

extern "C" {

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
  static auto real = Next<int (*)(const char*, const char*)>("rename");
  return real(from, to);
}

int unlink(const char* path) {
  if (Matches("QUORVANE_FAIL_UNLINK", path)) {
    errno = EPERM;
    return -1;
  }
  static auto real = Next<int (*)(const char*)>("unlink");
  return real(path);
}

}  // extern "C"
