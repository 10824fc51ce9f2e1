#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "automation/drop_folder_run.h"
#include "automation/progress.h"
#include "storage/file_primitives.h"
#include "tests/support/faulty_file_system.h"
#include "tests/support/memory_file_system.h"
#include "ui/texts.h"

namespace quorvane {
namespace {

// The drop-folder run on its own, as --batch uses it: each way it can end, what it leaves, and
// whether it reported its start.
TEST(RunDropFolderTest, EachOutcomeLeavesTheDropFolderAsPromised) {
  using testing::FileStep;
  const FolderTree folders("/home/u/Documents");
  const std::string claim = folders.InputFile() + ".k1ll3d.claim";
  struct Row {
    const char* name;
    const char* input;  // nullptr: none
    std::function<void(testing::MemoryFileSystem&, testing::FaultyFileSystem&)> setup;
    RunOutcome outcome;
    const char* result;  // nullptr: the old one stays
    bool input_kept;
    bool begun;
    const char* input_after = nullptr;  // Bintake.tbin's bytes when kept; nullptr: as dropped
    const char* left_under = "";        // where the run says the input is kept
    bool result_in_place = false;
    std::optional<FileOperation> cause = std::nullopt;  // the failed step the run names
  };
  const Row rows[] = {
      /* 0*/ {"converted", "101\r\n11\r\n", nullptr, RunOutcome::kOk, "5\r\n3\r\n", false, true},
      /* 1*/ {"no input", nullptr, nullptr, RunOutcome::kInputMissing, nullptr, false, false},
      /* 2*/ {"empty", "", nullptr, RunOutcome::kInputEmpty, nullptr, true, false},
      /* 3*/ {"not binary", "12\r\n", nullptr, RunOutcome::kInputNotBinary, nullptr, true, false},
      /* 4*/
      {"a line too long", "1\r\n111111111111111111111111111111111\r\n", nullptr,
       RunOutcome::kLineTooLong, nullptr, true, true},
      /* 5*/
      {"a killed run's claim goes back and is converted", nullptr,
       [&claim](testing::MemoryFileSystem& disk, testing::FaultyFileSystem&) {
         disk.PutFile(claim, "110\r\n");
       },
       RunOutcome::kOk, "6\r\n", false, true},
      /* 6*/
      {"the result cannot be written", "1\r\n",
       [](testing::MemoryFileSystem&, testing::FaultyFileSystem& files) {
         files.FailOn(FileStep::kCreate, "Decyield");
       },
       RunOutcome::kResultNotWritten, nullptr, true, true, nullptr, "", false,
       FileOperation::kCreate},
      /* 7*/
      {"the input cannot be deleted", "1\r\n",
       [](testing::MemoryFileSystem&, testing::FaultyFileSystem& files) {
         files.FailOn(FileStep::kDelete, "Bintake");
       },
       RunOutcome::kInputNotDeleted, "1\r\n", true, true, nullptr, "", false,
       FileOperation::kDelete},
      /* 8*/
      {"a program asks to write the input during the run", "1\r\n",
       [&folders](testing::MemoryFileSystem& disk, testing::FaultyFileSystem& files) {
         files.Before(FileStep::kCreate, "Decyield",
                      [&disk, &folders] { disk.AskToWrite(folders.InputFile()); });
       },
       RunOutcome::kInputChanged, "1\r\n", true, true},
      /* 9*/
      {"the Result folder cannot be put on the disk: the input stays, the result stands", "1\r\n",
       [](testing::MemoryFileSystem&, testing::FaultyFileSystem& files) {
         files.FailOn(FileStep::kSync, "Result");
       },
       RunOutcome::kResultNotWritten, "1\r\n", true, true, nullptr, "", true,
       FileOperation::kSyncFolder},
      /*10*/
      {"an input emptied between its size and its reading", "1\r\n",
       [&folders](testing::MemoryFileSystem& disk, testing::FaultyFileSystem& files) {
         files.Before(FileStep::kRead, "Bintake",
                      [&disk, &folders] { disk.PutFile(folders.InputFile(), ""); });
       },
       RunOutcome::kInputUnreadable, nullptr, true, false, "", "", false, FileOperation::kRead},
      /*11*/
      {"a claim that a copy at work holds: the folder is that copy's", "1\r\n",
       [&claim](testing::MemoryFileSystem& disk, testing::FaultyFileSystem&) {
         disk.PutFile(claim, "110\r\n");
         disk.SetClaimState(claim, ClaimState::kHeld);
       },
       RunOutcome::kBusy, nullptr, true, false},
      /*12*/
      {"a claim whose copy cannot be told to have ended, and no input: named, not missing", nullptr,
       [&claim](testing::MemoryFileSystem& disk, testing::FaultyFileSystem&) {
         disk.PutFile(claim, "110\r\n");
         disk.SetClaimState(claim, ClaimState::kUnknown);
       },
       RunOutcome::kInputNotDeleted, nullptr, false, false, nullptr, claim.c_str()},
      /*13*/
      {"the same claim beside an input: the input is converted", "11\r\n",
       [&claim](testing::MemoryFileSystem& disk, testing::FaultyFileSystem&) {
         disk.PutFile(claim, "110\r\n");
         disk.SetClaimState(claim, ClaimState::kUnknown);
       },
       RunOutcome::kOk, "3\r\n", false, true},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    const Row& r = rows[row];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + r.name);
    testing::MemoryFileSystem disk;
    for (const std::string& folder :
         {std::string("/home"), std::string("/home/u"), folders.documents, folders.maker}) {
      disk.PutDirectory(folder);
    }
    MakeDataFolders(disk, folders);
    disk.PutDirectory(folders.auto_file);
    ASSERT_TRUE(ReplaceFileSafely(disk, folders.ResultFile(), "9\r\n"));
    if (r.input != nullptr) disk.PutFile(folders.InputFile(), r.input);
    testing::FaultyFileSystem files(disk);
    if (r.setup) r.setup(disk, files);
    struct : RunProgress {
      void Begin(uint64_t) override { begun = true; }
      bool begun = false;
    } progress;

    RunDetails details;
    EXPECT_EQ(RunDropFolder(files, folders, progress, &details), r.outcome);
    EXPECT_EQ(progress.begun, r.begun);
    if (r.begun) {
      EXPECT_EQ(details.input_bytes,
                std::string_view(r.input != nullptr ? r.input : "110\r\n").size());
    }
    EXPECT_EQ(details.input_left_under, r.left_under);
    EXPECT_EQ(details.result_in_place, r.result_in_place);
    EXPECT_EQ(static_cast<bool>(details.cause), r.cause.has_value());
    if (r.cause) {
      EXPECT_EQ(details.cause.operation, *r.cause);
    }
    const auto* result = disk.Find(folders.ResultFile());
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(result->bytes, r.result != nullptr ? r.result : "9\r\n");
    const auto* input = disk.Find(folders.InputFile());
    EXPECT_EQ(input != nullptr, r.input_kept);
    if (input != nullptr && r.input != nullptr) {
      EXPECT_EQ(input->bytes, r.input_after != nullptr ? r.input_after : r.input);
    }
  }
}

TEST(ProgressTest, PercentageDividesFirstThenMultiplies) {
  const struct {
    uint64_t position, total;
    int percent;
  } cases[] = {{0, 12, 0},    {4, 8, 50},    {6, 8, 75},    {7, 8, 87}, {8, 8, 100},
               {29, 100, 28}, {57, 100, 56}, {58, 100, 57}, {1, 3, 33}, {0, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.position) + "/" + std::to_string(c.total));
    EXPECT_EQ(ProgressPercent(c.position, c.total), c.percent);
  }
  EXPECT_EQ(ProgressLabel(25), "進捗率\u300025 %");
}

TEST(ProgressThrottleTest, SmallTotalsShowEveryPositionAsTimeAllows) {
  // Time moving on by the interval: every position. Time standing still: the first and the one
  // taken as the last.
  for (const uint64_t step_ms : {ProgressThrottle::kIntervalMs, uint64_t{0}}) {
    SCOPED_TRACE(step_ms);
    ProgressThrottle throttle(100);
    for (uint64_t position = 0; position <= 100; ++position) {
      ASSERT_LE(throttle.next_due(), position);
      const bool shown = throttle.Take(position, position * step_ms, position == 100);
      EXPECT_EQ(shown, step_ms != 0 || position == 0 || position == 100) << position;
    }
  }
}

// Over a large range, the positions the throttle lets through must still show every percentage
// and every cell of the bar, and the next_due promise must never skip one.
TEST(ProgressThrottleTest, LargeTotalsSkipOnlyWhatLooksTheSame) {
  for (uint64_t total : {uint64_t{4097}, uint64_t{99'991}, uint64_t{6'231'003}}) {
    SCOPED_TRACE(total);
    ProgressThrottle throttle(total);
    int last_percent = -1;
    uint64_t last_cell = 0, shown = 0;
    for (uint64_t position = 0; position <= total; ++position) {
      const int percent = ProgressPercent(position, total);
      const uint64_t cell = position * ProgressThrottle::kBarCells / total;
      const bool changes = percent != last_percent || cell != last_cell;
      if (position < throttle.next_due()) {
        ASSERT_FALSE(changes) << "skipped a visible change at " << position;
        continue;
      }
      ASSERT_EQ(throttle.Take(position, position * ProgressThrottle::kIntervalMs),
                changes || position == 0)
          << position;
      if (changes) ++shown;
      last_percent = percent;
      last_cell = cell;
    }
    EXPECT_LE(shown, ProgressThrottle::kBarCells + 101);
  }
}

}  // namespace
}  // namespace quorvane
