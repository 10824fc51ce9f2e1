// The Windows file system behind the core's file primitives, on a real disk (under Wine in the
// tests): status and attributes, one-level folders, listing, the read limit and its sharing,
// truncation, replacing renames, read-only files and the drop-folder lock.
#include "platform/win32/windows_api.h"

#include <string>

#include "platform/win32/wide_text.h"
#include "storage/file_primitives.h"
#include "storage/file_system.h"
#include "tests/win32/check.h"

namespace quorvane::win32_test {
namespace {

using win32::ToWide;

class Scratch {
 public:
  Scratch() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    root_ = win32::ToUtf8(temp) + "quorvane-fs-" + std::to_string(::GetCurrentProcessId());
    ::CreateDirectoryW(ToWide(root_).c_str(), nullptr);
  }
  ~Scratch() { DeleteTree(RealFileSystem(), root_); }

  std::string Path(const std::string& name) const { return root_ + "\\" + name; }

 private:
  std::string root_;
};

void Put(const std::string& path, const std::string& bytes) {
  WriteWholeFile(RealFileSystem(), path, bytes);
}

void MarkReadOnly(const std::string& path) {
  ::SetFileAttributesW(ToWide(path).c_str(), FILE_ATTRIBUTE_READONLY);
}

void StatusCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  Put(scratch.Path("four.txt"), "1010");
  Put(scratch.Path("locked.txt"), "1");
  MarkReadOnly(scratch.Path("locked.txt"));
  fs.MakeDirectory(scratch.Path("folder"));
  // A name outside every ANSI code page still works: paths go through the W functions.
  Put(scratch.Path("変換\u00e9.tbin"), "11");

  static const struct {
    const char* name;
    bool exists, is_directory, read_only;
    uint64_t size;
  } kCases[] = {
      /* 0 */ {"four.txt", true, false, false, 4},
      /* 1 */ {"locked.txt", true, false, true, 1},
      /* 2 */ {"folder", true, true, false, 0},
      /* 3 */ {"missing", false, false, false, 0},
      /* 4 */ {"変換\u00e9.tbin", true, false, false, 2},
  };
  for (size_t row = 0; row < std::size(kCases); ++row) {
    const auto& expected = kCases[row];
    const std::string where = "status row " + std::to_string(row) + " (" + expected.name + ")";
    auto status = fs.Status(scratch.Path(expected.name));
    ExpectEq(where, "exists", status.has_value(), expected.exists);
    if (!status) continue;
    ExpectEq(where, "is_directory", status->is_directory, expected.is_directory);
    ExpectEq(where, "read_only", status->read_only, expected.read_only);
    if (!expected.is_directory) ExpectEq(where, "size", status->size, expected.size);
  }
}

void FolderCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  const std::string top = scratch.Path("tree");
  Expect("folders", "a new folder is made", fs.MakeDirectory(top));
  Expect("folders", "an existing folder is not made again", !fs.MakeDirectory(top));
  Expect("folders", "one level only", !fs.MakeDirectory(top + "\\a\\b"));
  fs.MakeDirectory(top + "\\a");
  Put(top + "\\a\\x.txt", "1");
  Put(top + "\\y.txt", "0");
  Expect("folders", "a folder with something in it stays", !fs.RemoveDirectory(top + "\\a"));

  auto entries = fs.ListDirectory(top);
  Expect("listing", "the folder can be listed", entries.has_value());
  if (entries) {
    ExpectEq("listing", "entries (without . and ..)", entries->size(), 2u);
    for (const DirectoryEntry& entry : *entries) {
      ExpectEq("listing " + entry.name, "is_directory", entry.is_directory, entry.name == "a");
    }
  }
  Expect("listing", "a missing folder cannot be listed",
         !fs.ListDirectory(scratch.Path("nowhere")).has_value());

  // A read-only file stays, and so does every folder above it.
  MarkReadOnly(top + "\\a\\x.txt");
  Expect("delete tree", "reports that it ran", DeleteTree(fs, top));
  Expect("delete tree", "the read-only file stays", FileExists(fs, top + "\\a\\x.txt"));
  Expect("delete tree", "the other file is gone", !FileExists(fs, top + "\\y.txt"));
  fs.ClearReadOnly(top + "\\a\\x.txt");
  DeleteTree(fs, top);
  Expect("delete tree", "everything goes once nothing is read-only", !DirectoryExists(fs, top));
}

void ReadCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  constexpr size_t kLimit = 8;
  static const struct {
    const char* content;
    FileSystem::ReadOutcome outcome;
    const char* bytes;
  } kCases[] = {
      /* 0 */ {"", FileSystem::ReadOutcome::kOk, ""},
      /* 1 */ {"101\r\n11\r\n", FileSystem::ReadOutcome::kTooLarge, "101\r\n11\r"},
      /* 2 */ {"10101010", FileSystem::ReadOutcome::kOk, "10101010"},
      /* 3 */ {"1010101", FileSystem::ReadOutcome::kOk, "1010101"},
  };
  for (size_t row = 0; row < std::size(kCases); ++row) {
    const std::string where = "read row " + std::to_string(row);
    const std::string path = scratch.Path("read" + std::to_string(row));
    Put(path, kCases[row].content);
    std::string bytes = "stale";
    ExpectEq(where, "outcome", static_cast<int>(fs.ReadFile(path, kLimit, bytes)),
             static_cast<int>(kCases[row].outcome));
    ExpectEq(where, "bytes", bytes, kCases[row].bytes);
  }
  std::string bytes;
  ExpectEq("read missing", "outcome",
           static_cast<int>(fs.ReadFile(scratch.Path("missing"), kLimit, bytes)),
           static_cast<int>(FileSystem::ReadOutcome::kCannotOpen));
  fs.MakeDirectory(scratch.Path("a folder"));
  ExpectEq("read folder", "outcome",
           static_cast<int>(fs.ReadFile(scratch.Path("a folder"), kLimit, bytes)),
           static_cast<int>(FileSystem::ReadOutcome::kCannotOpen));

  // A file still open for writing elsewhere is not read: readers deny writers.
  const std::string busy = scratch.Path("busy.tbin");
  HANDLE writer =
      ::CreateFileW(ToWide(busy).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ExpectEq("read while written", "outcome", static_cast<int>(fs.ReadFile(busy, kLimit, bytes)),
           static_cast<int>(FileSystem::ReadOutcome::kCannotOpen));
  ::CloseHandle(writer);
  ExpectEq("read after the writer closed", "outcome",
           static_cast<int>(fs.ReadFile(busy, kLimit, bytes)),
           static_cast<int>(FileSystem::ReadOutcome::kOk));
}

void WriteCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  const std::string path = scratch.Path("result.tbin");
  Put(path, "5\r\n3\r\n");
  Put(path, "1");
  std::string bytes;
  fs.ReadFile(path, 100, bytes);
  ExpectEq("write", "an existing file is truncated", bytes, "1");

  Expect("replace", "replaces an existing file", ReplaceFileSafely(fs, path, "2\r\n"));
  fs.ReadFile(path, 100, bytes);
  ExpectEq("replace", "content", bytes, "2\r\n");
  Expect("replace", "leaves no pending file", !FileExists(fs, PendingPathFor(path)));

  MarkReadOnly(path);
  Expect("write read-only", "is refused", !WriteWholeFile(fs, path, "0"));
  Expect("delete read-only", "is refused", !fs.DeleteFile(path));
  Expect("delete forced", "clears the mark and deletes", DeleteFileForced(fs, path));
  Expect("delete forced", "the file is gone", !FileExists(fs, path));
}

void LockCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  const std::string path = scratch.Path("Quorvane.lock");
  {
    auto first = fs.TryLock(path);
    Expect("lock", "the first copy takes it", first != nullptr);
    Expect("lock", "a second copy does not", fs.TryLock(path) == nullptr);
  }
  Expect("lock", "it is free again once released", fs.TryLock(path) != nullptr);
}

}  // namespace
}  // namespace quorvane::win32_test

int wmain() {
  using namespace quorvane::win32_test;
  {
    Scratch scratch;
    StatusCases(scratch);
    FolderCases(scratch);
    ReadCases(scratch);
    WriteCases(scratch);
    LockCases(scratch);
  }
  return Finish("file_system_test");
}
