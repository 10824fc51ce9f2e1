#include "storage/file_primitives.h"

#include <chrono>
#include <cstdint>
#include <random>

namespace quorvane {
namespace {

constexpr std::string_view kTemporarySuffix = ".partial";

std::string_view NameOf(std::string_view path) {
  const size_t separator = path.find_last_of(kPathSeparator);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string_view FolderOf(std::string_view path) {
  const size_t separator = path.find_last_of(kPathSeparator);
  return separator == std::string_view::npos ? std::string_view(".") : path.substr(0, separator);
}

}  // namespace

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

bool DirectoryExists(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  return status && status->is_directory;
}

bool FileExists(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  return status && !status->is_directory;
}

FileContents ReadWholeFile(FileSystem& fs, const std::string& path) {
  FileContents contents;
  contents.outcome = fs.ReadFile(path, kReadLimit, contents.bytes, &contents.stamp);
  return contents;
}

namespace {

constexpr std::string_view kClaimSuffix = ".claim";

std::mt19937_64& NameGenerator() {
  // Seeded from the system's randomness, the clock and an address (different in every process),
  // so that copies started at the same moment pick different names.
  static std::mt19937_64 generator = [] {
    std::random_device device;
    const int here = 0;
    std::seed_seq seed{
        static_cast<uint64_t>(device()), static_cast<uint64_t>(device()),
        static_cast<uint64_t>(std::chrono::high_resolution_clock::now().time_since_epoch().count()),
        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&here))};
    return std::mt19937_64(seed);
  }();
  return generator;
}

std::string PrivatePathFor(const std::string& target, std::string_view suffix) {
  constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string path = target;
  path += '.';
  for (int i = 0; i < 6; ++i) path += kAlphabet[NameGenerator()() % kAlphabet.size()];
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

void SeedPrivateNames(uint64_t seed) { NameGenerator().seed(seed); }

bool IsTemporaryNameFor(std::string_view name, std::string_view target_name) {
  return IsPrivateNameFor(name, target_name, kTemporarySuffix);
}

bool IsClaimNameFor(std::string_view name, std::string_view target_name) {
  return IsPrivateNameFor(name, target_name, kClaimSuffix);
}

bool ReplaceFileSafely(FileSystem& fs, const std::string& path, std::string_view bytes) {
  // Permission bits do not stop every user (root writes anywhere), so a read-only mark is
  // honoured here rather than left to the system.
  if (auto status = fs.Status(path);
      status && !status->is_link && (status->is_directory || status->read_only)) {
    return false;
  }
  std::string temporary;
  auto file = fs.CreateTemporary(path, temporary);
  if (!file) return false;
  const bool written = file->Write(bytes) && file->Flush();
  const bool closed = file->Close();
  if (written && closed && fs.Rename(temporary, path)) {
    // Until its folder is synced, a power cut may take the new name away again; whoever deletes
    // the input after this must be able to count on the result.
    return fs.SyncDirectory(std::string(FolderOf(path)));
  }
  fs.DeleteFile(temporary);
  return false;
}

void RemoveLeftoverTemporaries(FileSystem& fs, const std::string& path) {
  const std::string folder(FolderOf(path));
  auto entries = fs.ListDirectory(folder);
  if (!entries) return;
  for (const DirectoryEntry& entry : *entries) {
    if (entry.is_regular && IsTemporaryNameFor(entry.name, NameOf(path))) {
      fs.DeleteFile(folder + kPathSeparator + entry.name);
    }
  }
}

void RestoreClaimedFiles(FileSystem& fs, const std::string& path) {
  const std::string folder(FolderOf(path));
  auto entries = fs.ListDirectory(folder);
  if (!entries) return;
  for (const DirectoryEntry& entry : *entries) {
    // The first one goes back under its name; any other stays claimed, beside it, until the name
    // is free again. Nothing that stands at the name is ever replaced.
    if (!entry.is_directory && IsClaimNameFor(entry.name, NameOf(path))) {
      static_cast<void>(fs.RenameNoReplace(folder + kPathSeparator + entry.name, path));
    }
  }
}

}  // namespace quorvane
