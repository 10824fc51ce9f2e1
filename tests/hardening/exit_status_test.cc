// Every exit status a calling program can meet, from the real executable in a throw-away HOME,
// together with what the run left in the drop folder and what it printed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/platform.h"
#include "app/quorvane_app.h"
#include "convert/limits.h"
#include "platform/headless/headless_view.h"
#include "storage/file_primitives.h"
#include "tests/support/drop_home.h"
#include "ui/dialog_templates.h"
#include "ui/dialog_view.h"
#include "ui/outcome_messages.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kOldResult = "9\r\n";

// What a message box looks like on standard error in a headless run.
std::string Printed(const std::string& message, MessageIcon icon) {
  std::string out = std::string("quorvane") + (icon == MessageIcon::kError ? ": error: " : ": ");
  for (char c : message) {
    if (c != '\r') out.push_back(c == '\n' ? ' ' : c);
  }
  return out;
}

std::string Repeat(const std::string& piece, size_t times) {
  std::string out;
  out.reserve(piece.size() * times);
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// An input of exactly `size` bytes: lines "1011" and then line feeds up to the size.
std::string InputOfSize(size_t size) {
  std::string input = Repeat("1011\r\n", size / 6);
  input.append(size - input.size(), '\n');
  return input;
}

struct ExitRow {
  const char* name;
  std::function<void(const DropHome&)> setup;
  std::vector<std::string> extra_environment;
  RunOutcome outcome;
  bool input_kept;                       // Bintake.tbin (file or folder) still there afterwards
  std::optional<std::string> result;     // the result file afterwards; nullopt: none
  std::string printed;                   // a line the run prints on standard error; empty: none
  const char* standard_error = nullptr;  // kClosedStream or kBrokenPipe; nullptr: a file
  std::function<void(const DropHome&)> check = nullptr;  // what else must hold afterwards
};

// Whether the file system the tests run on (TMPDIR) has renameat2's flags; FUSE and network ones
// do not.
bool RenameFlagsHere() {
  TempFolder dir;
  WriteFile(dir / "from", "");
  return ::renameat2(AT_FDCWD, (dir / "from").c_str(), AT_FDCWD, (dir / "to").c_str(),
                     RENAME_NOREPLACE) == 0;
}

// The claim names in the drop folder.
std::vector<fs::path> Claims(const DropHome& home) {
  std::vector<fs::path> claims;
  for (const auto& entry : fs::directory_iterator(home.folders().auto_file)) {
    if (IsClaimNameFor(entry.path().filename().string(), "Bintake.tbin")) {
      claims.push_back(entry.path());
    }
  }
  return claims;
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

std::vector<ExitRow> ExitRows() {
  const std::string fail_io = std::string("LD_PRELOAD=") + QUORVANE_FAIL_IO;
  const auto drop = [](std::string input) {
    return [input](const DropHome& home) {
      home.MakeDropFolder();
      home.DropInput(input);
    };
  };
  // A killed run's claim, and no input beside it.
  static const auto claim_of = [](const DropHome& home) {
    return home.folders().InputFile() + ".k1ll3d.claim";
  };
  const auto claimed_only = [](const DropHome& home) {
    home.MakeDropFolder();
    WriteFile(claim_of(home), "110\r\n");
  };
  return {
      /* 0*/ {"converted",
              drop("101\r\n11\r\n"),
              {},
              RunOutcome::kOk,
              false,
              "5\r\n3\r\n",
              Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /* 1*/
      {"no drop folder, no display",
       [](const DropHome&) {},
       {},
       RunOutcome::kNoDialog,
       false,
       kOldResult,
       Format(TextId::kDialogNeedsFrontEnd, {Text(TextId::kNoDisplaySet)})},
      /* 2*/
      {"input missing",
       [](const DropHome& home) { home.MakeDropFolder(); },
       {},
       RunOutcome::kInputMissing,
       false,
       kOldResult,
       Printed(Text(TextId::kInputMissing), MessageIcon::kError)},
      /* 3*/
      {"input is a folder",
       [](const DropHome& home) { fs::create_directories(home.folders().InputFile()); },
       {},
       RunOutcome::kInputMissing,
       true,
       kOldResult,
       Printed(Text(TextId::kInputMissing), MessageIcon::kError)},
      /* 4*/
      {"input empty",
       drop(""),
       {},
       RunOutcome::kInputEmpty,
       true,
       kOldResult,
       Printed(Text(TextId::kInputEmpty), MessageIcon::kError)},
      /* 5*/
      {"input unreadable",
       drop("1\r\n"),
       {fail_io, "QUORVANE_FAIL_OPEN=/Bintake.tbin"},
       RunOutcome::kInputUnreadable,
       true,
       kOldResult,
       Printed(Text(TextId::kInputUnreadable), MessageIcon::kError)},
      /* 6*/
      {"input not binary",
       drop("10 1\r\n"),
       {},
       RunOutcome::kInputNotBinary,
       true,
       kOldResult,
       Printed(Text(TextId::kInputNotBinary), MessageIcon::kError)},
      /* 7*/
      {"input one byte over the limit",
       drop(InputOfSize(kReadLimit + 1)),
       {},
       RunOutcome::kInputTooLarge,
       true,
       kOldResult,
       Printed(Text(TextId::kInputTooLarge), MessageIcon::kError)},
      /* 8*/
      {"input exactly at the limit",
       drop(InputOfSize(kReadLimit)),
       {},
       RunOutcome::kOk,
       false,
       Repeat("11\r\n", kReadLimit / 6),
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /* 9*/
      {"line of 32 digits",
       drop("1\r\n" + std::string(kMaxLineDigits, '0') + "1\r\n"),
       {},
       RunOutcome::kLineTooLong,
       true,
       kOldResult,
       Printed(Text(TextId::kLineTooLong), MessageIcon::kError)},
      /*10*/
      {"line of 31 digits",
       drop(std::string(kMaxLineDigits, '1') + "\r\n"),
       {},
       RunOutcome::kOk,
       false,
       std::to_string(kLargestDecimal) + "\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /*11*/
      {"result is a folder",
       [](const DropHome& home) {
         home.MakeDropFolder();
         home.DropInput("1\r\n");
         fs::remove(home.folders().ResultFile());
         fs::create_directories(home.folders().ResultFile());
       },
       {},
       RunOutcome::kResultNotWritten,
       true,
       std::nullopt,
       Printed(Text(TextId::kResultNotWritten), MessageIcon::kError)},
      /*12*/
      {"result read-only",
       [](const DropHome& home) {
         home.MakeDropFolder();
         home.DropInput("1\r\n");
         ::chmod(home.folders().ResultFile().c_str(), 0444);
       },
       {},
       RunOutcome::kResultNotWritten,
       true,
       kOldResult,
       Printed(Text(TextId::kResultNotWritten), MessageIcon::kError)},
      /*13*/
      {"input cannot be deleted",
       drop("110\n"),
       {fail_io, "QUORVANE_FAIL_UNLINK=/Bintake.tbin"},
       RunOutcome::kInputNotDeleted,
       true,
       "6\r\n",
       Printed(Text(TextId::kInputNotDeleted), MessageIcon::kError)},
      /*14*/
      {"input read-only",
       [](const DropHome& home) {
         home.MakeDropFolder();
         home.DropInput("111");
         ::chmod(home.folders().InputFile().c_str(), 0444);
       },
       {},
       RunOutcome::kOk,
       false,
       "7\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /*15*/
      {"a file-size limit below the result's size (ulimit -f)",
       drop(Repeat("1\r\n", 500)),
       {fail_io, "QUORVANE_FILE_SIZE_LIMIT=1000"},
       RunOutcome::kResultNotWritten,
       true,
       kOldResult,
       Printed(Text(TextId::kResultNotWritten), MessageIcon::kError)},
      /*16*/
      {"not enough memory for the input (ulimit -v)",
       drop(InputOfSize(kReadLimit)),
       {fail_io, "QUORVANE_MEMORY_HEADROOM=1048576"},
       RunOutcome::kOutOfMemory,
       true,
       kOldResult,
       "quorvane: " + Text(TextId::kOutOfMemory)},
      /*17*/
      {"a lock file an older version left, which this account may not open, blocks nothing",
       [](const DropHome& home) {
         home.MakeDropFolder();
         home.DropInput("10\r\n");
         WriteFile(home.folders().temp + "/Quorvane.lock", "");
       },
       {fail_io, "QUORVANE_FAIL_OPEN=/Quorvane.lock"},
       RunOutcome::kOk,
       false,
       "2\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /*18*/
      {"another copy deletes the input between this copy's last check and its deletion",
       drop("110\n"),
       {fail_io, "QUORVANE_GONE_AFTER_STAT=/Bintake.tbin"},
       RunOutcome::kOk,
       false,
       "6\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /*19*/
      {"another copy deletes the input between this copy's check and its reading",
       drop("110\n"),
       {fail_io, "QUORVANE_GONE_BEFORE_OPEN=/Bintake.tbin"},
       RunOutcome::kInputMissing,
       false,
       kOldResult,
       Printed(Text(TextId::kInputMissing), MessageIcon::kError)},
      /*20*/
      {"read-only input in a folder that may not be written: kept, mode and all",
       [](const DropHome& home) {
         home.MakeDropFolder();
         home.DropInput("110\n");
         ::chmod(home.folders().InputFile().c_str(), 0444);
       },
       {fail_io, "QUORVANE_FAIL_UNLINK=/Bintake.tbin"},
       RunOutcome::kInputNotDeleted,
       true,
       "6\r\n",
       Printed(Text(TextId::kInputNotDeleted), MessageIcon::kError),
       nullptr,
       [](const DropHome& home) { EXPECT_EQ(ModeOf(home.folders().InputFile()), 0444u); }},
      /*21*/
      {"input a hard link to a read-only file elsewhere: that file keeps its mode",
       [](const DropHome& home) {
         home.MakeDropFolder();
         const std::string elsewhere = home.folders().documents + "/kept.txt";
         WriteFile(elsewhere, "101\r\n");
         ::chmod(elsewhere.c_str(), 0444);
         fs::create_hard_link(elsewhere, home.folders().InputFile());
       },
       {},
       RunOutcome::kOk,
       false,
       "5\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation),
       nullptr,
       [](const DropHome& home) {
         EXPECT_EQ(ModeOf(home.folders().documents + "/kept.txt"), 0444u);
         EXPECT_EQ(ReadFile(home.folders().documents + "/kept.txt"), "101\r\n");
       }},
      /*22*/
      {"a read error on the input (a damaged disk) ends at once",
       drop("1\r\n"),
       {fail_io, "QUORVANE_FAIL_READ=/Bintake.tbin"},
       RunOutcome::kInputUnreadable,
       true,
       kOldResult,
       Printed(Text(TextId::kInputUnreadable), MessageIcon::kError)},
      /*23*/
      // The result goes to its file a small part at a time: no allocation of its size is ever
      // asked for, so none can fail.
      {"memory for no more than the input: converted all the same",
       drop(InputOfSize(kReadLimit)),
       {fail_io, "QUORVANE_FAIL_LARGE_MAP=2"},
       RunOutcome::kOk,
       false,
       Repeat("11\r\n", kReadLimit / 6),
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /*24*/
      {"standard error closed: the message lands nowhere, least of all in a file of the run",
       drop("1\r\n"),
       {},
       RunOutcome::kOk,
       false,
       "1\r\n",
       "",
       kClosedStream,
       [](const DropHome& home) {
         for (const auto& entry : fs::recursive_directory_iterator(home.folders().documents)) {
           if (!entry.is_regular_file()) continue;
           EXPECT_EQ(ReadFile(entry.path()).find("quorvane"), std::string::npos) << entry.path();
         }
       }},
      /*25*/
      {"standard error a pipe nobody reads: the status is the run's own",
       drop("1\r\n"),
       {},
       RunOutcome::kOk,
       false,
       "1\r\n",
       "",
       kBrokenPipe},
      /*26*/
      {"an input a killed run had claimed goes back and is converted",
       [](const DropHome& home) {
         home.MakeDropFolder();
         WriteFile(home.folders().InputFile() + ".k1ll3d.claim", "110\r\n");
       },
       {},
       RunOutcome::kOk,
       false,
       "6\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /*27*/
      {"a claimed leftover beside a new input waits for the name to be free",
       [](const DropHome& home) {
         home.MakeDropFolder();
         home.DropInput("1\r\n");
         WriteFile(home.folders().InputFile() + ".k1ll3d.claim", "110\r\n");
       },
       {},
       RunOutcome::kOk,
       false,
       "1\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation),
       nullptr,
       [](const DropHome& home) {
         EXPECT_EQ(ReadFile(home.folders().InputFile() + ".k1ll3d.claim"), "110\r\n");
       }},
      // Network and FUSE file systems have no renameat2 flags, and vfat-like ones no hard links.
      /*28*/
      {"no rename flags: converted and deleted all the same",
       drop("101\r\n"),
       {fail_io, "QUORVANE_NO_RENAME_FLAGS=1"},
       RunOutcome::kOk,
       false,
       "5\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      /*29*/
      {"no rename flags: a killed run's claim goes back by a second name and is converted",
       claimed_only,
       {fail_io, "QUORVANE_NO_RENAME_FLAGS=1"},
       RunOutcome::kOk,
       false,
       "6\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation),
       nullptr,
       [](const DropHome& home) { EXPECT_FALSE(fs::exists(claim_of(home))); }},
      /*30*/
      {"no rename flags, no hard links: a killed run's claim cannot go back, and is named",
       claimed_only,
       {fail_io, "QUORVANE_NO_RENAME_FLAGS=1", "QUORVANE_NO_HARD_LINKS=1"},
       RunOutcome::kInputNotDeleted,
       false,
       kOldResult,
       Printed(Text(TextId::kInputNotDeleted), MessageIcon::kError),
       nullptr,
       [](const DropHome& home) {
         EXPECT_EQ(ReadFile(claim_of(home)), "110\r\n");
         EXPECT_NE(home.ReadErrorLog().find(claim_of(home)), std::string::npos);
       }},
      /*31*/
      {"no rename flags, no hard links: the input is claimed and deleted all the same",
       drop("11\r\n"),
       {fail_io, "QUORVANE_NO_RENAME_FLAGS=1", "QUORVANE_NO_HARD_LINKS=1"},
       RunOutcome::kOk,
       false,
       "3\r\n",
       Printed(Text(TextId::kCompleted), MessageIcon::kInformation)},
      // Where no rename can put it back without the risk of replacing a file, and the second
      // name that would stand in cannot be made whole either, it stays under its claim, named.
      /*32*/
      {"the claimed input cannot be deleted: it goes back under its name",
       drop("110\n"),
       {fail_io, "QUORVANE_FAIL_UNLINK_ONLY=.claim"},
       RunOutcome::kInputNotDeleted,
       RenameFlagsHere(),
       "6\r\n",
       Printed(Text(TextId::kInputNotDeleted), MessageIcon::kError),
       nullptr,
       [](const DropHome& home) {
         if (RenameFlagsHere()) {
           EXPECT_EQ(ReadFile(home.folders().InputFile()), "110\n");
           EXPECT_TRUE(Claims(home).empty());
         } else {
           ASSERT_EQ(Claims(home).size(), 1u);
           EXPECT_EQ(ReadFile(Claims(home)[0]), "110\n");
           EXPECT_NE(home.ReadErrorLog().find(Claims(home)[0].string()), std::string::npos);
         }
       }},
      /*33*/
      {"... and a new input dropped the moment it was claimed stays whole; the old one is named",
       drop("110\n"),
       {fail_io, "QUORVANE_FAIL_UNLINK_ONLY=.claim", "QUORVANE_DROP_AFTER_CLAIM=11\n"},
       RunOutcome::kInputNotDeleted,
       true,
       "6\r\n",
       Printed(Text(TextId::kInputNotDeleted), MessageIcon::kError),
       nullptr,
       [](const DropHome& home) {
         EXPECT_EQ(ReadFile(home.folders().InputFile()), "11\n");
         ASSERT_EQ(Claims(home).size(), 1u);
         EXPECT_EQ(ReadFile(Claims(home)[0]), "110\n");
         EXPECT_NE(home.ReadErrorLog().find(Claims(home)[0].string()), std::string::npos);
       }},
      // Without a lease (another account's file, a file system without leases) a writer is seen
      // by the status change time, which nobody can set back.
      /*34*/
      {"no lease: rewritten in place after the read, its times set back: kept",
       drop("110\r\n"),
       {fail_io, "QUORVANE_FAIL_LEASE=1", "QUORVANE_REWRITE=/Bintake.tbin",
        "QUORVANE_REWRITE_AT=rename"},
       RunOutcome::kInputChanged,
       true,
       "6\r\n",
       Printed(Text(TextId::kInputChanged), MessageIcon::kError),
       nullptr,
       [](const DropHome& home) { EXPECT_EQ(ReadFile(home.folders().InputFile()), "001\r\n"); }},
      /*35*/
      {"no lease: rewritten in place just as it is read: not read",
       drop("110\r\n"),
       {fail_io, "QUORVANE_FAIL_LEASE=1", "QUORVANE_REWRITE=/Bintake.tbin",
        "QUORVANE_REWRITE_AT=read"},
       RunOutcome::kInputUnreadable,
       true,
       kOldResult,
       Printed(Text(TextId::kInputUnreadable), MessageIcon::kError)},
  };
}

// AddressSanitizer ends a process whose allocation fails instead of letting it throw, so the
// memory limit is tried on the plain build only.
constexpr bool kSanitizedAllocator =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

class ExitStatusTest : public ::testing::Test {
 protected:
  // Messages allowed and a result from an earlier run in place, as for the rows of the table.
  void SetUp() override {
    home_.WriteSettings("1\r\n1");
    home_.WriteResult(kOldResult);
  }
  DropHome home_;
};

TEST(ExitStatusRows, EachOutcomeHasItsStatusAndLeavesTheDropFolderAsPromised) {
  const std::vector<ExitRow> rows = ExitRows();
  for (size_t row = 0; row < rows.size(); ++row) {
    const ExitRow& r = rows[row];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + r.name);
    if (kSanitizedAllocator && r.outcome == RunOutcome::kOutOfMemory) {
      std::printf("row %zu (%s) left out: the sanitizer's allocator aborts\n", row, r.name);
      continue;
    }
    // Messages are allowed, so each outcome also shows which message it printed.
    DropHome home;
    home.WriteSettings("1\r\n1");
    home.WriteResult(kOldResult);
    r.setup(home);

    Ending ending = RunQuorvane(home.Environment(r.extra_environment),
                                r.standard_error != nullptr ? r.standard_error : home.ErrorLog());

    ASSERT_FALSE(ending.hung);
    ASSERT_TRUE(ending.exited) << "signal " << ending.signal << "\n" << home.ReadErrorLog();
    EXPECT_EQ(ending.code, ExitStatus(r.outcome)) << home.ReadErrorLog();
    EXPECT_EQ(home.InputExists(), r.input_kept);
    EXPECT_EQ(home.Result(), r.result);
    EXPECT_FALSE(home.PendingResultExists());
    const std::string printed = r.standard_error != nullptr ? "" : home.ReadErrorLog();
    if (r.printed.empty()) {
      EXPECT_EQ(printed, "");
    } else {
      EXPECT_NE(printed.find(r.printed), std::string::npos) << printed;
    }
    if (r.check) r.check(home);
  }
}

// A calling program's --batch run: whatever the settings say, no message box and nothing that
// waits; the status alone tells, with one line on standard error for anything but success.
TEST(ExitStatusRows, BatchRunsNeverWaitAndSayWhatWentWrongInOneLine) {
  const std::string fail_io = std::string("LD_PRELOAD=") + QUORVANE_FAIL_IO;
  const struct {
    const char* name;
    bool drop_folder;
    const char* input;  // nullptr: none
    RunOutcome outcome;
    const char* line;  // what standard error holds; "" for nothing
    std::vector<std::string> environment = {};
    std::function<void(const DropHome&)> setup = nullptr;
    // The cause the line names after the outcome's text: the step, the file and why.
    std::function<std::string(const DropHome&)> cause = nullptr;
  } rows[] = {
      /* 0*/ {"converted", true, "101\r\n", RunOutcome::kOk, ""},
      /* 1*/
      {"no AutoFile folder: a missing input, not a dialog; the folder is named",
       false,
       nullptr,
       RunOutcome::kInputMissing,
       "quorvane: ２進数が記述された「Bintake.tbin」ファイルがりません。",
       {},
       nullptr,
       [](const DropHome& home) {
         return Format(TextId::kNoDropFolder, {home.folders().auto_file});
       }},
      /* 2*/
      {"refused", true, "12\r\n", RunOutcome::kInputNotBinary,
       "quorvane: ２進数が記述された「Bintake.tbin」ファイルに、数値以外の文字が書かれていました。 "
       "処理を中止します。 （1行目） (status 13)\n"},
      // A refused file names the line that refused it.
      /*2a*/
      {"a byte other than 0 and 1 on line 3",
       true,
       "1\r\n10\r\n1 0\r\n",
       RunOutcome::kInputNotBinary,
       "quorvane: ２進数が記述された「Bintake.tbin」ファイルに",
       {},
       nullptr,
       [](const DropHome&) { return Format(TextId::kAtLine, {"3"}); }},
      /*2b*/
      {"a line too long on line 2",
       true,
       "1\n111111111111111111111111111111111\n",
       RunOutcome::kLineTooLong,
       "quorvane: 計算できる最大値の2147483647を超えました。",
       {},
       nullptr,
       [](const DropHome&) { return Format(TextId::kAtLine, {"2"}); }},
      // Each failure names its step, its file and the system's reason.
      /* 3*/
      {"input may not be read (EACCES)",
       true,
       "1\r\n",
       RunOutcome::kInputUnreadable,
       "quorvane: ２進数が記述された「Bintake.tbin」ファイルを読み込めませんでした。",
       {fail_io, "QUORVANE_FAIL_OPEN=/Bintake.tbin"},
       nullptr,
       [](const DropHome& home) {
         return Format(TextId::kCause, {Text(TextId::kStepOpen), home.folders().InputFile(),
                                        SystemErrorText(EACCES)});
       }},
      /* 4*/
      {"a damaged disk under the input (EIO)",
       true,
       "1\r\n",
       RunOutcome::kInputUnreadable,
       "quorvane: ２進数が記述された「Bintake.tbin」ファイルを読み込めませんでした。",
       {fail_io, "QUORVANE_FAIL_READ=/Bintake.tbin"},
       nullptr,
       [](const DropHome& home) {
         return Format(TextId::kCause,
                       {Text(TextId::kStepRead), home.folders().InputFile(), SystemErrorText(EIO)});
       }},
      /* 5*/
      {"a folder in the result's place",
       true,
       "1\r\n",
       RunOutcome::kResultNotWritten,
       "quorvane: 結果ファイル「Decyield.tbin」を書き込めませんでした。",
       {},
       [](const DropHome& home) {
         fs::remove(home.folders().ResultFile());
         fs::create_directories(home.folders().ResultFile());
       },
       [](const DropHome& home) {
         return Format(TextId::kCause, {Text(TextId::kStepRename), home.folders().ResultFile(),
                                        Text(TextId::kNotAPlainFile)});
       }},
      /* 6*/
      {"a full disk (ENOSPC)",
       true,
       "1\r\n",
       RunOutcome::kResultNotWritten,
       "quorvane: 結果ファイル「Decyield.tbin」を書き込めませんでした。",
       {fail_io, "QUORVANE_DISK_FULL=.partial"},
       nullptr,
       // The temporary file of its own, whose name is drawn at random, is what failed.
       [](const DropHome&) {
         return Text(TextId::kStepWrite) + "に失敗しました: " + SystemErrorText(ENOSPC);
       }},
      // A write that takes no byte ends the run, where asking again would never end.
      /*6a*/
      {"a file system that takes no byte (a write of 0)",
       true,
       "1\r\n",
       RunOutcome::kResultNotWritten,
       "quorvane: 結果ファイル「Decyield.tbin」を書き込めませんでした。",
       {fail_io, "QUORVANE_WRITES_NOTHING=.partial"},
       nullptr,
       [](const DropHome&) {
         return Text(TextId::kStepWrite) + "に失敗しました: " + SystemErrorText(EIO);
       }},
      /* 7*/
      {"a folder that may not be written (EPERM)",
       true,
       "1\r\n",
       RunOutcome::kInputNotDeleted,
       "quorvane: "
       "結果ファイル「Decyield.tbin」は書き込みましたが、「Bintake.tbin」ファイルを削除でき"
       "ませんでした。",
       {fail_io, "QUORVANE_FAIL_UNLINK_ONLY=.claim"},
       nullptr,
       [](const DropHome&) { return Text(TextId::kStepDelete); }},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    const auto& r = rows[row];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + r.name);
    DropHome home;
    home.WriteSettings("1\r\n1");  // messages on: a plain start would show a box
    home.WriteResult(kOldResult);
    if (r.drop_folder) home.MakeDropFolder();
    if (r.input != nullptr) home.DropInput(r.input);
    if (r.setup) r.setup(home);
    std::vector<std::string> environment = r.environment;
    // A display that cannot be reached: a run that tried to show anything would say so.
    environment.push_back("DISPLAY=:97");
    const pid_t pid = Spawn({QuorvaneExecutable(),
                             {"--batch"},
                             home.Environment(environment),
                             "/dev/null",
                             home.ErrorLog()});
    ASSERT_GT(pid, 0);
    Ending ending = WaitFor(pid);
    ASSERT_TRUE(ending.exited);
    EXPECT_EQ(ending.code, ExitStatus(r.outcome));
    const std::string printed = home.ReadErrorLog();
    if (*r.line == '\0') {
      EXPECT_EQ(printed, "");
    } else {
      EXPECT_EQ(printed.rfind(r.line, 0), 0u) << printed;
      EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one line only: " << printed;
      if (r.cause) {
        EXPECT_NE(printed.find(r.cause(home)), std::string::npos) << printed;
      }
    }
  }
}

// A person's answers to a pipe that nobody reads, or to a standard output the caller closed, end
// with their own status and say so on standard error; so does a command line too large for the
// memory the process may have. Never a signal.
TEST(ExitStatusRows, OptionsEndWithTheirOwnStatusAndSayWhy) {
  const std::string fail_io = std::string("LD_PRELOAD=") + QUORVANE_FAIL_IO;
  const std::string headroom = "QUORVANE_MEMORY_HEADROOM=1048576";
  std::vector<std::string> numbers(150000, "1");
  numbers.insert(numbers.begin(), "--convert");
  std::vector<std::string> strays(150000, "x");
  strays.insert(strays.begin(), "--batch");
  const std::string closed = "quorvane: " + Text(TextId::kOutputNotWritten);
  const std::string no_memory = "quorvane: " + Text(TextId::kOutOfMemory);
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    const char* standard_output;  // kBrokenPipe or kClosedStream
    int status;
    std::string line;  // how standard error starts: one line, but for a usage error
    std::vector<std::string> environment = {};
  } rows[] = {
      /* 0*/ {"--help to a pipe nobody reads", {"--help"}, kBrokenPipe, 1, closed},
      /* 1*/ {"--version to a pipe nobody reads", {"--version"}, kBrokenPipe, 1, closed},
      /* 2*/
      {"--bogus",
       {"--bogus"},
       kBrokenPipe,
       ExitStatus(RunOutcome::kUsageError),
       "quorvane: '--bogus'"},
      // Descriptor 1 closed: /dev/null guards its place, but nothing written there reaches anyone.
      /* 3*/
      {"--where, output closed",
       {"--where"},
       kClosedStream,
       1,
       "quorvane: " + Text(TextId::kPathsNotWritten)},
      /* 4*/ {"--help, output closed", {"--help"}, kClosedStream, 1, closed},
      /* 5*/ {"--version, output closed", {"--version"}, kClosedStream, 1, closed},
      /* 6*/
      {"--convert NUMBER, output closed",
       {"--convert", "1"},
       kClosedStream,
       ExitStatus(RunOutcome::kResultNotWritten),
       closed},
      // Memory for a few arguments only: the shortage is met while the command line is read.
      /* 7*/
      {"--convert with 150,000 numbers and 1 MiB to spare",
       numbers,
       kBrokenPipe,
       ExitStatus(RunOutcome::kOutOfMemory),
       no_memory,
       {fail_io, headroom}},
      /* 8*/
      {"--batch with 150,000 stray arguments and 1 MiB to spare",
       strays,
       kBrokenPipe,
       ExitStatus(RunOutcome::kOutOfMemory),
       no_memory,
       {fail_io, headroom}},
      /* 9*/
      {"--convert with 150,000 numbers and 4 MiB to spare",
       numbers,
       kBrokenPipe,
       ExitStatus(RunOutcome::kOutOfMemory),
       no_memory,
       {fail_io, "QUORVANE_MEMORY_HEADROOM=4194304"}},
      /*10*/
      {"--batch with 150,000 stray arguments and 4 MiB to spare",
       strays,
       kBrokenPipe,
       ExitStatus(RunOutcome::kOutOfMemory),
       no_memory,
       {fail_io, "QUORVANE_MEMORY_HEADROOM=4194304"}},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    const auto& r = rows[row];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + r.name);
    if (kSanitizedAllocator && r.status == ExitStatus(RunOutcome::kOutOfMemory)) {
      std::printf("row %zu (%s) left out: the sanitizer's allocator aborts\n", row, r.name);
      continue;
    }
    DropHome home;
    const pid_t pid = Spawn({QuorvaneExecutable(), r.arguments, home.Environment(r.environment),
                             r.standard_output, home.ErrorLog()});
    ASSERT_GT(pid, 0);
    Ending ending = WaitFor(pid);
    ASSERT_TRUE(ending.exited) << "signal " << ending.signal << "\n" << home.ReadErrorLog();
    EXPECT_EQ(ending.code, r.status) << home.ReadErrorLog();
    const std::string printed = home.ReadErrorLog();
    EXPECT_EQ(printed.rfind(r.line, 0), 0u) << printed;
    if (r.status != ExitStatus(RunOutcome::kUsageError)) {
      EXPECT_EQ(printed.find('\n'), printed.size() - 1) << "one line: " << printed;
    }
  }
}

TEST_F(ExitStatusTest, SecondCopyWhileTheDropFolderIsLockedEndsBusyAndTouchesNothing) {
  home_.MakeDropFolder();
  home_.DropInput("1\r\n");
  fs::create_directories(home_.folders().temp);
  // The lock is what a copy at work holds; taking it here stands for that copy.
  int held = ::open(home_.folders().temp.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

  Ending busy = RunQuorvane(home_.Environment(), home_.ErrorLog());
  EXPECT_TRUE(busy.exited);
  EXPECT_EQ(busy.code, ExitStatus(RunOutcome::kBusy));
  EXPECT_EQ(home_.ReadErrorLog(), "");  // busy is reported by the status alone
  EXPECT_TRUE(home_.InputExists());
  EXPECT_EQ(home_.Result(), kOldResult);

  // Once the lock is free again the same drop folder is converted.
  ::close(held);
  Ending after = RunQuorvane(home_.Environment(), home_.ErrorLog());
  EXPECT_EQ(after.code, ExitStatus(RunOutcome::kOk));
  EXPECT_FALSE(home_.InputExists());
  EXPECT_EQ(home_.Result(), "1\r\n");
}

TEST_F(ExitStatusTest, AnAutomaticRunLeavesTheSettingsFileAlone) {
  home_.WriteSettings("1\r\n1\r\nkept");
  ::chmod(home_.folders().SettingsFile().c_str(), 0444);
  home_.MakeDropFolder();
  home_.DropInput("1");
  Ending ending = RunQuorvane(home_.Environment(), home_.ErrorLog());
  EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kOk));
  EXPECT_EQ(ReadFile(home_.folders().SettingsFile()), "1\r\n1\r\nkept");
  struct stat st;
  ASSERT_EQ(::stat(home_.folders().SettingsFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u);
}

// The start-up over a platform whose "window" presses a button and returns the dialog's result,
// whose message boxes and standard streams are written down, and whose standard error may be a
// terminal: the interactive endings need a window, which the headless executable does not have,
// and what may be shown depends on how the program was started.
class ScriptedPlatform final : public Platform, private StandardStreams, private SystemLog {
 public:
  ScriptedPlatform(std::vector<std::string> arguments, DocumentsLookup documents,
                   std::optional<int> command)
      : arguments_(std::move(arguments)), documents_(std::move(documents)), command_(command) {}

  bool terminal = false;           // standard error is a terminal
  bool boxes_are_shown = false;    // a message is shown in a box, not written on standard error
  std::vector<std::string> boxes;  // every message box, the start-up's error included
  std::string reported;            // the start-up's error
  std::string error;               // standard error
  struct LogRecord {
    RecordSeverity severity;
    int status;
    std::string text;
  };
  std::vector<LogRecord> records;  // the system log's

  Language UserLanguage() override { return CurrentLanguage(); }
  std::vector<std::string_view> Arguments() override {
    return {arguments_.begin(), arguments_.end()};
  }
  Spelling spelling() const override { return Spelling::kPosix; }
  std::string_view line_end() const override { return "\n"; }
  StandardStreams& Streams(bool) override { return *this; }
  bool ErrorIsTerminal() override { return terminal; }
  FileSystem& Files() override { return RealFileSystem(); }
  DocumentsLookup LookUpDocumentsFolder() override { return documents_; }
  std::string ExecutablePath() override { return "/usr/bin/quorvane"; }
  std::string ApplicationName() override { return "quorvane"; }
  void ReportStartupError(std::string_view text) override {
    reported = text;
    boxes.emplace_back(text);
  }
  bool ShowMessage(std::string_view text, MessageIcon) override {
    boxes.emplace_back(text);
    if (!boxes_are_shown) error.append(text).append("\n");
    return boxes_are_shown;
  }
  void PlaySound(MessageIcon) override {}
  SystemLog& Log() override { return *this; }
  uint64_t NowMs() override { return now_ms_ += 7; }
  std::optional<int> RunModal(CQuorvaneDlg& dialog) override {
    view_.SetMessageHandler(
        [this](std::string_view text, MessageIcon icon) { ShowMessage(text, icon); });
    dialog.AttachView(view_);
    dialog.OnInitDialog();
    if (view_.ended()) return view_.end_result();
    if (!command_) return std::nullopt;  // no window could be made
    dialog.OnCommand(*command_, Notification::kClicked);
    return view_.end_result();
  }

 private:
  bool CanRead() override { return false; }
  std::ptrdiff_t Read(char*, size_t) override { return -1; }
  bool Write(std::string_view) override { return true; }
  void WriteError(std::string_view text) override { error.append(text); }
  void Record(RecordSeverity severity, int status, std::string_view text) override {
    records.push_back({severity, status, std::string(text)});
  }

  uint64_t now_ms_ = 0;
  std::vector<std::string> arguments_;
  DocumentsLookup documents_;
  std::optional<int> command_;
  HeadlessView view_;
};

// What a run that refused its input on `line` has to say beside its status.
RunDetails AtLine(uint64_t line) {
  RunDetails details;
  details.fault_line = line;
  return details;
}

// What a start that found no Documents folder says, in one line.
std::string NoDocumentsLine(const std::string& cause) {
  std::string line = "quorvane: ";
  for (char c : Text(TextId::kNoDocumentsFolder)) {
    if (c != '\r') line.push_back(c == '\n' ? ' ' : c);
  }
  return line + " " + cause + " (status 1)\n";
}

struct StartRow {
  const char* name;
  bool drop_folder;
  const char* input;
  std::optional<int> command;  // what the user does in the dialog; nullopt: no window
  RunOutcome outcome;
  // The Documents folder cannot be found: kNone finds it in the throw-away home.
  DocumentsLookup::Problem problem = DocumentsLookup::Problem::kNone;
  std::vector<std::string> arguments = {};
  const char* settings = nullptr;  // the settings file; nullptr: none
  bool terminal = false;
  bool boxes_are_shown = false;
  size_t boxes = 0;           // how many message boxes were asked for
  std::string error = "";     // standard error, whole
  std::string reported = "";  // the start-up's error, in a box where it may be shown
};

const std::string kNoHomeCause = Text(TextId::kNoDocumentsForWhere);
const std::string kRelativeHomeCause = Format(TextId::kHomeNotAbsolute, {"home/u"});

const StartRow kStartRows[] = {
    /* 0*/ {"exit button", false, nullptr, kIdExit, RunOutcome::kOk},
    /* 1*/ {"closed by the window system", false, nullptr, kIdCancel, RunOutcome::kOk},
    /* 2*/ {"no window", false, nullptr, std::nullopt, RunOutcome::kNoDialog},
    /* 3*/ {"automatic run", true, "1\r\n", std::nullopt, RunOutcome::kOk},
    /* 4*/ {"automatic run refused", true, "2", std::nullopt, RunOutcome::kInputNotBinary},
    /* 5*/
    {"line too long", true, "111111111111111111111111111111111", std::nullopt,
     RunOutcome::kLineTooLong},
    /* 6*/
    {"no Documents folder: nothing is made anywhere else",
     true,
     "1\r\n",
     kIdExit,
     RunOutcome::kNoDocumentsFolder,
     DocumentsLookup::Problem::kNoHome,
     {},
     nullptr,
     false,
     false,
     1,
     "",
     Text(TextId::kNoDocumentsFolder) + "\r\n" + kNoHomeCause},
    /* 7*/
    {"a relative HOME: its cause is told, and nothing is made",
     true,
     "1\r\n",
     kIdExit,
     RunOutcome::kNoDocumentsFolder,
     DocumentsLookup::Problem::kHomeNotAbsolute,
     {},
     nullptr,
     false,
     false,
     1,
     "",
     Text(TextId::kNoDocumentsFolder) + "\r\n" + kRelativeHomeCause},
    // A calling program's starts never show a box: --batch and --where say it on standard error.
    /* 8*/
    {"--batch without a Documents folder",
     true,
     "1\r\n",
     kIdExit,
     RunOutcome::kNoDocumentsFolder,
     DocumentsLookup::Problem::kHomeNotAbsolute,
     {"--batch"},
     nullptr,
     false,
     false,
     0,
     NoDocumentsLine(kRelativeHomeCause)},
    /* 9*/
    {"--where without a Documents folder",
     true,
     "1\r\n",
     kIdExit,
     RunOutcome::kNoDocumentsFolder,
     DocumentsLookup::Problem::kNoHome,
     {"--where"},
     nullptr,
     false,
     false,
     0,
     "quorvane: " + kNoHomeCause + "\n"},
    /*10*/
    {"--batch with messages on",
     true,
     "2",
     std::nullopt,
     RunOutcome::kInputNotBinary,
     DocumentsLookup::Problem::kNone,
     {"--batch"},
     "1\r\n1",
     true,
     true,
     0,
     StandardErrorLine(13, AtLine(1))},
    // A person who starts the drop folder's run at a terminal reads its outcome there.
    /*11*/
    {"at a terminal",
     true,
     "2",
     std::nullopt,
     RunOutcome::kInputNotBinary,
     DocumentsLookup::Problem::kNone,
     {},
     nullptr,
     true,
     false,
     0,
     StandardErrorLine(13, AtLine(1))},
    /*12*/
    {"not at a terminal",
     true,
     "2",
     std::nullopt,
     RunOutcome::kInputNotBinary,
     DocumentsLookup::Problem::kNone,
     {},
     nullptr,
     false,
     false,
     0,
     ""},
    /*13*/
    {"at a terminal, the message box shown",
     true,
     "2",
     std::nullopt,
     RunOutcome::kInputNotBinary,
     DocumentsLookup::Problem::kNone,
     {},
     "1\r\n1",
     true,
     true,
     1,
     StandardErrorLine(13, AtLine(1))},
    /*14*/
    {"at a terminal, the message written there already",
     true,
     "2",
     std::nullopt,
     RunOutcome::kInputNotBinary,
     DocumentsLookup::Problem::kNone,
     {},
     "1\r\n1",
     true,
     false,
     1,
     Text(TextId::kInputNotBinary) + "\n"},
    /*15*/
    {"at a terminal, a stray argument and a success",
     true,
     "1",
     std::nullopt,
     RunOutcome::kOk,
     DocumentsLookup::Problem::kNone,
     {"101"},
     nullptr,
     true,
     false,
     0,
     IgnoredArgumentsNote(ParseCommandLine(std::vector<std::string_view>{"101"}, Spelling::kPosix),
                          Spelling::kPosix)},
};

TEST(StartUpTest, TheProcessStatusIsTheOutcomeOfItsOneDialog) {
  for (size_t row = 0; row < std::size(kStartRows); ++row) {
    const StartRow& r = kStartRows[row];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + r.name);
    DropHome home;
    if (r.drop_folder) home.MakeDropFolder();
    if (r.input != nullptr) home.DropInput(r.input);
    if (r.settings != nullptr) home.WriteSettings(r.settings);
    DocumentsLookup documents = {home.folders().documents, r.problem, ""};
    if (r.problem != DocumentsLookup::Problem::kNone) documents.path.clear();
    if (r.problem == DocumentsLookup::Problem::kHomeNotAbsolute) documents.refused = "home/u";
    ScriptedPlatform platform(r.arguments, documents, r.command);
    platform.terminal = r.terminal;
    platform.boxes_are_shown = r.boxes_are_shown;
    EXPECT_EQ(CQuorvaneApp(platform).Run(), ExitStatus(r.outcome));
    EXPECT_EQ(platform.reported, r.reported);
    EXPECT_EQ(platform.boxes.size(), r.boxes);
    EXPECT_EQ(platform.error, r.error);
    if (r.problem != DocumentsLookup::Problem::kNone) {
      EXPECT_FALSE(fs::exists(FolderTree("").maker));  // "/Brenvale"
      EXPECT_FALSE(fs::exists("Brenvale"));            // nor in the working folder
    }
    // Every automatic run, silent or not, leaves one record in the system's log: its status, its
    // meaning and the time it took; no other start does.
    const bool batch = r.arguments == std::vector<std::string>{"--batch"};
    const bool automatic =
        batch || (r.drop_folder && r.problem == DocumentsLookup::Problem::kNone &&
                  r.arguments != std::vector<std::string>{"--where"});
    ASSERT_EQ(platform.records.size(), automatic ? 1u : 0u);
    if (automatic) {
      const ScriptedPlatform::LogRecord& record = platform.records[0];
      EXPECT_EQ(record.status, ExitStatus(r.outcome));
      EXPECT_EQ(record.severity, SeverityOf(ExitStatus(r.outcome)));
      EXPECT_EQ(record.text.rfind(
                    Format(TextId::kRunRecord, {batch ? "--batch" : Text(TextId::kPlainStart),
                                                std::to_string(ExitStatus(r.outcome)), ""})
                        .substr(0, 12),
                    0),
                0u)
          << record.text;
      EXPECT_NE(record.text.find("、7 ミリ秒"), std::string::npos) << record.text;
    }

    EXPECT_EQ(home.InputExists(),
              r.input != nullptr &&
                  (r.problem != DocumentsLookup::Problem::kNone || r.outcome != RunOutcome::kOk));
  }
}

}  // namespace
}  // namespace quorvane::testing
