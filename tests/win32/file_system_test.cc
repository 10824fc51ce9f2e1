// The Windows file system behind the core's file primitives, on a real disk (under Wine in the
// tests): status and attributes, one-level folders, listing, the read limit and its sharing,
// replacing renames through temporaries of their own, read-only files, deleting only the file
// that was read, and the drop-folder lock. Also the core's line converter as this build compiles
// it, on every path the machine runs.
#include "storage/windows_api.h"

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "convert/line_converter.h"
#include "storage/file_primitives.h"
#include "storage/file_system.h"
#include "storage/wide_text.h"
#include "tests/support/convert_text.h"
#include "tests/support/delete_tree.h"
#include "tests/win32/check.h"

namespace quorvane::win32_test {
namespace {

using testing::DeleteTree;
using win32::ToWide;

// Wine hands out process ids again, so the folder's name is made unique by the clock as well, and
// the read-only marks the cases leave are cleared before it goes.
class Scratch {
 public:
  Scratch() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::string base = win32::ToUtf8(temp) + "quorvane-fs-" +
                             std::to_string(::GetCurrentProcessId()) + "-" +
                             std::to_string(::GetTickCount64());
    for (int attempt = 0; root_.empty(); ++attempt) {
      const std::string candidate = base + "-" + std::to_string(attempt);
      if (::CreateDirectoryW(ToWide(candidate).c_str(), nullptr)) root_ = candidate;
    }
  }
  ~Scratch() {
    ClearReadOnly(root_);
    DeleteTree(RealFileSystem(), root_);
  }

  std::string Path(const std::string& name) const { return root_ + "\\" + name; }

 private:
  static void ClearReadOnly(const std::string& folder) {
    auto entries = RealFileSystem().ListDirectory(folder);
    if (!entries) return;
    for (const DirectoryEntry& entry : *entries) {
      const std::string path = folder + "\\" + entry.name;
      if (entry.is_directory) ClearReadOnly(path);
      const DWORD attributes = ::GetFileAttributesW(ToWide(path).c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(ToWide(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      }
    }
  }

  std::string root_;
};

void Put(const std::string& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  ::CloseHandle(file);
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
    if (!expected.is_directory) ExpectEq(where, "size", status->size(), expected.size);
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
  ::SetFileAttributesW(ToWide(top + "\\a\\x.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
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
      /* 1 */ {"101\r\n11\r\n", FileSystem::ReadOutcome::kTooLarge, ""},  // refused whole
      /* 2 */ {"10101010", FileSystem::ReadOutcome::kOk, "10101010"},
      /* 3 */ {"1010101", FileSystem::ReadOutcome::kOk, "1010101"},
  };
  for (size_t row = 0; row < std::size(kCases); ++row) {
    const std::string where = "read row " + std::to_string(row);
    const std::string path = scratch.Path("read" + std::to_string(row));
    Put(path, kCases[row].content);
    std::string bytes = "stale";
    ExpectEq(where, "outcome", static_cast<int>(fs.ReadFile(path, kLimit, bytes, nullptr)),
             static_cast<int>(kCases[row].outcome));
    ExpectEq(where, "bytes", bytes, kCases[row].bytes);
  }
  std::string bytes;
  ExpectEq("read missing", "outcome",
           static_cast<int>(fs.ReadFile(scratch.Path("missing"), kLimit, bytes, nullptr)),
           static_cast<int>(FileSystem::ReadOutcome::kCannotOpen));
  fs.MakeDirectory(scratch.Path("a folder"));
  ExpectEq("read folder", "outcome",
           static_cast<int>(fs.ReadFile(scratch.Path("a folder"), kLimit, bytes, nullptr)),
           static_cast<int>(FileSystem::ReadOutcome::kCannotOpen));

  // A file still open for writing elsewhere is not read: readers deny writers.
  const std::string busy = scratch.Path("busy.tbin");
  HANDLE writer =
      ::CreateFileW(ToWide(busy).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ExpectEq("read while written", "outcome",
           static_cast<int>(fs.ReadFile(busy, kLimit, bytes, nullptr)),
           static_cast<int>(FileSystem::ReadOutcome::kBusy));
  ::CloseHandle(writer);
  ExpectEq("read after the writer closed", "outcome",
           static_cast<int>(fs.ReadFile(busy, kLimit, bytes, nullptr)),
           static_cast<int>(FileSystem::ReadOutcome::kOk));
}

// How many temporaries of `target` stand beside it.
int Temporaries(FileSystem& fs, const Scratch& scratch, const std::string& name) {
  int count = 0;
  if (auto entries = fs.ListDirectory(scratch.Path(""))) {
    for (const DirectoryEntry& entry : *entries) count += IsTemporaryNameFor(entry.name, name);
  }
  return count;
}

void WriteCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  const std::string path = scratch.Path("result.tbin");
  Put(path, "5\r\n3\r\n");
  std::string bytes;
  // Whatever stands at the old fixed temporary name, or at the very name the next temporary will
  // be given, is neither opened nor in the way.
  Put(path + ".partial", "precious");
  MarkReadOnly(path + ".partial");
  SeedPrivateNames(7);
  const std::string next_temporary = NewTemporaryPathFor(path);
  Put(next_temporary, "planted");
  SeedPrivateNames(7);
  Expect("replace", "replaces an existing file", ReplaceFileSafely(fs, path, "2\r\n").done);
  Expect("replace", "reads back",
         fs.ReadFile(path, 100, bytes, nullptr) == FileSystem::ReadOutcome::kOk);
  ExpectEq("replace", "content", bytes, "2\r\n");
  Expect("replace", "the old temporary name reads back",
         fs.ReadFile(path + ".partial", 100, bytes, nullptr) == FileSystem::ReadOutcome::kOk);
  ExpectEq("replace", "the file at the old temporary name", bytes, "precious");
  Expect("replace", "the file at the next temporary name reads back",
         fs.ReadFile(next_temporary, 100, bytes, nullptr) == FileSystem::ReadOutcome::kOk);
  ExpectEq("replace", "the file at the next temporary name", bytes, "planted");
  fs.DeleteFile(next_temporary);
  ExpectEq("replace", "temporaries left", Temporaries(fs, scratch, "result.tbin"), 1);
  std::string temporary;
  auto file = fs.CreateTemporary(path, fs.Status(path), temporary, 0777);
  Expect("temporary", "is made", file != nullptr);
  Expect("temporary", "is named as one",
         IsTemporaryNameFor(temporary.substr(temporary.rfind('\\') + 1), "result.tbin"));
  if (file) {
    Expect("temporary", "takes bytes", file->Write("1") && file->Close());
  }
  RemoveLeftoverTemporaries(fs, path);
  ExpectEq("leftovers", "only the read-only one stays", Temporaries(fs, scratch, "result.tbin"), 1);

  MarkReadOnly(path);
  LastFileError() = {};
  Expect("replace read-only", "is refused", !ReplaceFileSafely(fs, path, "0"));
  Expect("replace read-only", "says why",
         LastFileError().failure == FileFailure::kMarkedReadOnly && LastFileError().path == path);
  // A step the system refuses carries the system's own words for it.
  LastFileError() = {};
  Expect("list a missing folder", "fails", !fs.ListDirectory(scratch.Path("nowhere")));
  Expect("list a missing folder", "names the step and the folder",
         LastFileError().operation == FileOperation::kList &&
             LastFileError().path == scratch.Path("nowhere"));
  Expect("list a missing folder", "the system's words",
         !SystemErrorText(LastFileError().code).empty() &&
             SystemErrorText(LastFileError().code).find("error ") != 0);
  Expect("delete read-only", "is refused", !fs.DeleteFile(path));
}

void DeleteCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  static const struct {
    const char* name;
    int change;  // 0 none, 1 read-only, 2 another file put in its place, 3 written to, 4 deleted,
                 // 5 read-only with a second name, 6 held open by a writer, 7 held open by a
                 // reader that does not share deletion, 8 the same reader letting go in a moment
    DeleteOutcome outcome;
    bool gone;
  } kCases[] = {
      /* 0 */ {"unchanged", 0, DeleteOutcome::kDeleted, true},
      /* 1 */ {"read-only", 1, DeleteOutcome::kDeleted, true},
      /* 2 */ {"replaced", 2, DeleteOutcome::kReplaced, false},
      /* 3 */ {"written to", 3, DeleteOutcome::kChanged, false},
      /* 4 */ {"gone", 4, DeleteOutcome::kNotFound, true},
      /* 5 */ {"read-only, with a second name", 5, DeleteOutcome::kDeleted, true},
      /* 6 */ {"held open by a writer", 6, DeleteOutcome::kChanged, false},
      // A reader is no writer: it is waited for, and then the file is kept whole (17, not 19).
      /* 7 */
      {"held open by a reader that does not share deletion", 7, DeleteOutcome::kFailed, false},
      /* 8 */
      {"the same reader letting go while it is waited for", 8, DeleteOutcome::kDeleted, true},
  };
  for (size_t row = 0; row < std::size(kCases); ++row) {
    const std::string where = std::string("delete what was read: ") + kCases[row].name;
    const std::string path = scratch.Path("Bintake" + std::to_string(row) + ".tbin");
    const std::string other_name = path + ".other";
    Put(path, "1\r\n");
    std::unique_ptr<FileView> view;
    Expect(where, "is read", fs.ViewFile(path, 100, view) == FileSystem::ReadOutcome::kOk);
    if (!view) continue;
    // The changes below come after the reading, as from another program while the run goes on;
    // the view lets go of its handle first, as it does before the deletion.
    HANDLE writer = INVALID_HANDLE_VALUE;
    switch (kCases[row].change) {
      case 1:
        MarkReadOnly(path);
        break;
      case 2:
        view->Release();
        Put(path + ".new", "11\r\n");
        fs.Rename(path + ".new", path);
        break;
      case 3: {
        view->Release();
        HANDLE file = ::CreateFileW(ToWide(path).c_str(), FILE_APPEND_DATA, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        ::WriteFile(file, "1", 1, &written, nullptr);
        ::CloseHandle(file);
        break;
      }
      case 4:
        view->Release();
        fs.DeleteFile(path);
        break;
      case 5:
        view->Release();
        ::CreateHardLinkW(ToWide(other_name).c_str(), ToWide(path).c_str(), nullptr);
        MarkReadOnly(path);
        break;
      case 6:
        view->Release();
        writer = ::CreateFileW(ToWide(path).c_str(), FILE_APPEND_DATA,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
      case 7:
      case 8:
        view->Release();
        writer = ::CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        Expect(where, "the reader opens it", writer != INVALID_HANDLE_VALUE);
        break;
    }
    // Row 8's reader lets go a moment after the deletion began.
    std::thread letting_go;
    if (kCases[row].change == 8) {
      letting_go = std::thread([&writer] {
        ::Sleep(300);
        ::CloseHandle(std::exchange(writer, INVALID_HANDLE_VALUE));
      });
    }
    ExpectEq(where, "outcome", static_cast<int>(view->Delete()),
             static_cast<int>(kCases[row].outcome));
    if (letting_go.joinable()) letting_go.join();
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    ExpectEq(where, "gone", !FileExists(fs, path), kCases[row].gone);
    if (kCases[row].change == 5) {
      // The mark belongs to the file, which lives on under its other name.
      const DWORD attributes = ::GetFileAttributesW(ToWide(other_name).c_str());
      Expect(where, "the other name keeps the read-only mark",
             attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0);
    }
  }
}

void LockCases(const Scratch& scratch) {
  FileSystem& fs = RealFileSystem();
  const std::string folder = scratch.Path("temp");
  fs.MakeDirectory(folder);
  for (const bool read_only : {false, true}) {
    const std::string where = read_only ? "read-only lock" : "lock";
    {
      FileSystem::LockAttempt first = fs.TryLock(folder);
      Expect(where, "the first copy takes it", first.lock != nullptr);
      FileSystem::LockAttempt second = fs.TryLock(folder);
      Expect(where, "a second copy does not", second.lock == nullptr);
      Expect(where, "and knows it is held", second.held_elsewhere);
    }
    Expect(where, "it is free again once released", fs.TryLock(folder).lock != nullptr);
    MarkReadOnly(folder + "\\Quorvane.lock");
  }
  const std::string blocked = scratch.Path("blocked");
  fs.MakeDirectory(blocked);
  fs.MakeDirectory(blocked + "\\Quorvane.lock");
  FileSystem::LockAttempt in_the_way = fs.TryLock(blocked);
  Expect("lock", "a folder in the lock file's place is no lock, nor held",
         !in_the_way.lock && !in_the_way.held_elsewhere);
}

// The converter rows: a stream in parts and whole, and the drop file's conversion, on each path
// the machine runs (MinGW compiles the AVX2 path as GCC does elsewhere; a path the machine lacks
// is named in the output).
void ConverterCases() {
  using Fault = LineConverter::Fault;
  std::string many, many_decimals;
  for (uint32_t value = 0; value < 3000; ++value) {
    const uint32_t shown = value * 715827;  // values of every length up to ten digits
    std::string binary;
    for (uint32_t rest = shown; rest != 0; rest >>= 1) binary.insert(0, 1, rest & 1 ? '1' : '0');
    many += (binary.empty() ? "0" : binary) + "\r\n";
    many_decimals += std::to_string(shown) + "\r\n";
  }
  const std::string ones(kMaxLineDigits, '1');
  const struct {
    std::string input;
    std::string output;  // with CR LF after each line
    Fault fault;
    uint64_t fault_line;
  } rows[] = {
      /* 0 */ {"101\r\n11\r\n", "5\r\n3\r\n", Fault::kNone, 0},
      /* 1 */
      {ones + "\n0\n\n1", std::to_string(kLargestDecimal) + "\r\n0\r\n1\r\n", Fault::kNone, 0},
      /* 2 */
      {std::string(60, '\n') + "1111111111\r111111\r" + std::string(15, '1') + "\r\n",
       std::to_string(kLargestDecimal) + "\r\n", Fault::kNone, 0},
      /* 3 */ {"1\n1x\n1\n", "1\r\n", Fault::kNotBinary, 2},
      /* 4 */ {"1\n\n" + ones + "1\n", "1\r\n", Fault::kLineTooLong, 3},
      /* 5 */ {std::string("10\n1\0\0\0", 8), "2\r\n1\r\n", Fault::kNone, 0},
      /* 6 */
      {std::string("1\n\0"
                   "1",
                   4),
       "1\r\n", Fault::kNotBinary, 2},
      /* 7 */ {many, many_decimals, Fault::kNone, 0},
  };
  for (LineConverter::Path path : LineConverter::kPaths) {
    const std::string name(LineConverter::Name(path));
    if (!LineConverter::Supported(path)) {
      std::printf("SKIPPED: the %s converter path (this machine does not run it)\n", name.c_str());
      continue;
    }
    for (size_t row = 0; row < std::size(rows); ++row) {
      const auto& r = rows[row];
      for (size_t part_size : {size_t{7}, r.input.size() + 1}) {
        const std::string where = "converter row " + std::to_string(row) + ", " + name +
                                  ", parts of " + std::to_string(part_size);
        LineConverter converter("\r\n", LineConverter::LongLines::kStop, path);
        std::string output;
        for (size_t at = 0; at < r.input.size(); at += part_size) {
          const std::string_view part = std::string_view(r.input).substr(at, part_size);
          std::string buffer(LineConverter::OutputBound(part.size()), '?');
          output.append(buffer.data(), converter.Feed(part, buffer.data()));
        }
        char last[LineConverter::OutputBound(0)];
        output.append(last, converter.Finish(last));
        ExpectEq(where, "output", output, r.output);
        ExpectEq(where, "fault", static_cast<int>(converter.fault()), static_cast<int>(r.fault));
        if (r.fault != Fault::kNone)
          ExpectEq(where, "fault line", converter.fault_line(), r.fault_line);
      }
      const testing::ConvertedText whole = testing::ConvertText(r.input, path);
      const std::string where = "converter row " + std::to_string(row) + ", " + name + ", whole";
      ExpectEq(where, "not binary", whole.not_binary, r.fault == Fault::kNotBinary);
      ExpectEq(where, "line too long", whole.line_too_long, r.fault == Fault::kLineTooLong);
      if (r.fault == Fault::kNone) ExpectEq(where, "result", std::string(whole.result), r.output);
    }
  }
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
    DeleteCases(scratch);
    LockCases(scratch);
  }
  ConverterCases();
  return Finish("file_system_test");
}
