// What the FileSystem interface defines for every system alike: the record of the step that
// failed, ReadFile over ViewFile, and the private names beside a file (temporaries and claims).
// Each system's own implementation is in file_system_posix.cc or file_system_win32.cc.
#include "storage/file_system.h"

#include <cstdint>
#include <random>

#if defined(__linux__)
#include <sys/random.h>
#endif

#include "storage/split_mix64.h"

namespace quorvane {

FileError& LastFileError() {
  thread_local FileError last;
  return last;
}

bool Failed(FileOperation operation, const std::string& path, int code) {
  LastFileError() = {operation, path, code, FileFailure::kSystem};
  return false;
}

bool Failed(FileOperation operation, const std::string& path, FileFailure failure) {
  LastFileError() = {operation, path, 0, failure};
  return false;
}

FileSystem::ReadOutcome FileSystem::ReadFile(const std::string& path, size_t limit,
                                             std::string& bytes, FileStamp* stamp) {
  bytes.clear();
  std::unique_ptr<FileView> view;
  const ReadOutcome outcome = ViewFile(path, limit, view);
  if (outcome != ReadOutcome::kOk) return outcome;
  bytes.assign(view->bytes());
  if (stamp != nullptr) *stamp = view->stamp();
  if (!view->Release()) {
    bytes.clear();
    return ReadOutcome::kBusy;
  }
  return ReadOutcome::kOk;
}

namespace {

constexpr std::string_view kTemporarySuffix = ".partial";
constexpr std::string_view kClaimSuffix = ".claim";

// A function of its own: std::random_device takes 5 KiB, and a run that never needs it should not
// reach that far down its stack (a page fault for each fresh page).
[[gnu::noinline]] uint64_t RandomDeviceBits() {
  std::random_device device;
  return (static_cast<uint64_t>(device()) << 32) ^ device();
}

// Eight bytes of the system's randomness. On Linux they come straight from the kernel:
// std::random_device first asks the processor which random instructions it has, and under a
// hypervisor each such question traps, 20 to 40 microseconds of a run that takes two
// milliseconds.
uint64_t SystemRandomness() {
#if defined(__linux__)
  uint64_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) {
    return value;
  }
#endif
  return RandomDeviceBits();  // before the kernel's pool is ready, or elsewhere
}

SplitMix64& NameGenerator() {
  // Private names need to differ between copies, not to be secret, and a run makes two of them:
  // a generator with a large state would cost more to seed than it gives. Seeded from the
  // system's randomness and an address (different in every process), so that copies started at
  // the same moment pick different names.
  static SplitMix64 generator = [] {
    const int here = 0;
    SplitMix64 source;
    source.Seed(SystemRandomness());
    source.Seed(source.Next() ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&here)));
    return source;
  }();
  return generator;
}

std::string PrivatePathFor(const std::string& target, std::string_view suffix) {
  constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string path = target;
  path += '.';
  for (int i = 0; i < 6; ++i) path += kAlphabet[NameGenerator().Next() % kAlphabet.size()];
  path += suffix;
  return path;
}

bool IsPrivateNameFor(std::string_view name, std::string_view target_name,
                      std::string_view suffix) {
  return name.size() >= target_name.size() + suffix.size() && name.starts_with(target_name) &&
         name[target_name.size()] == '.' && name.ends_with(suffix);
}

}  // namespace

std::string NewTemporaryPathFor(const std::string& target) {
  return PrivatePathFor(target, kTemporarySuffix);
}

std::string NewClaimPathFor(const std::string& target) {
  return PrivatePathFor(target, kClaimSuffix);
}

void SeedPrivateNames(uint64_t seed) { NameGenerator().Seed(seed); }

bool IsTemporaryNameFor(std::string_view name, std::string_view target_name) {
  return IsPrivateNameFor(name, target_name, kTemporarySuffix);
}

bool IsClaimNameFor(std::string_view name, std::string_view target_name) {
  return IsPrivateNameFor(name, target_name, kClaimSuffix);
}

}  // namespace quorvane
