#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "convert/limits.h"
#include "storage/file_primitives.h"
#include "tests/support/dialog_harness.h"
#include "ui/dialog_templates.h"
#include "ui/keyboard_filter.h"
#include "ui/outcome_messages.h"
#include "ui/texts.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::DialogHarness;
using testing::FileStep;
using testing::MemoryFileSystem;
using testing::ReadFile;
using testing::RecordingView;
using testing::ShownMessage;
using testing::WriteFile;

// The controls every automatic run leaves behind, whatever happened in it.
void ExpectEndedCleanly(DialogHarness& h) {
  EXPECT_EQ(h.dialog().end_result(), kResultAutomatic);
  const HeadlessView& c = h.controls();
  EXPECT_TRUE(c.control(kIdExit).enabled);
  EXPECT_FALSE(c.control(kIdProgressText).visible);
  EXPECT_EQ(c.control(kIdProgressText).text, "");
  EXPECT_FALSE(c.control(kIdProgressBar).visible);
  EXPECT_EQ(c.control(kIdProgressBar).position, 0u);
  EXPECT_EQ(c.wait_cursor_depth(), 0);
  EXPECT_FALSE(testing::TemporaryLeftBeside(h.folders().ResultFile()));
}

TEST(DialogInitTest, OpensForInteractiveUseWithoutDropFolder) {
  DialogHarness h;
  h.Open();
  const HeadlessView& c = h.controls();
  EXPECT_FALSE(h.dialog().end_result().has_value());
  EXPECT_EQ(c.control(kIdFullPath).text, "/opt/quorvane/bin/quorvane");
  EXPECT_FALSE(c.control(kIdAutoRun).checked);
  EXPECT_FALSE(c.control(kIdShowMessages).visible);
  EXPECT_FALSE(c.control(kIdProgressText).visible);
  EXPECT_FALSE(c.control(kIdProgressBar).visible);
  EXPECT_TRUE(fs::is_directory(h.folders().result));
  EXPECT_TRUE(fs::is_directory(h.folders().temp));
  EXPECT_FALSE(fs::exists(h.folders().auto_file));
  EXPECT_TRUE(h.view().messages().empty());
}

TEST(DialogInitTest, SettingsSurviveOnlyAsTheHiddenTick) {
  DialogHarness h;
  h.WriteSettings("1\r\n1");
  h.Open();
  const HeadlessView& c = h.controls();
  EXPECT_FALSE(c.control(kIdAutoRun).checked);
  EXPECT_FALSE(c.control(kIdShowMessages).visible);
  EXPECT_TRUE(c.control(kIdShowMessages).checked);
  // Restoring the tick is no click: the drop folder is not made.
  EXPECT_FALSE(fs::exists(h.folders().auto_file));
}

TEST(DialogInitTest, WithoutTheMakerFolderNothingBelowItIsMade) {
  DialogHarness h;
  fs::remove(h.folders().maker);
  h.Open();
  EXPECT_FALSE(fs::exists(h.folders().data_root));
  EXPECT_FALSE(h.dialog().end_result().has_value());
}

// Settings bytes -> settings lines -> check boxes. The drop folder is there without an input
// file, so the automatic start is abandoned and leaves the boxes as the settings made them; the
// missing-file message shows exactly when both lines allow it.
TEST(DialogInitTest, SettingsFileDecidesCheckBoxesAndMessages) {
  const struct {
    std::optional<std::string> file;
    std::string line0, line1;
    bool auto_run, shown, ticked, message;
  } cases[] = {
      /* 0*/ {"1\r\n1", "1", "1", true, true, true, true},
      /* 1*/ {"1\r\n0", "1", "0", true, true, false, false},
      /* 2*/ {"0\r\n1", "0", "1", false, false, false, false},
      /* 3*/ {"1\r\n1\r\n", "1", "1", true, true, true, true},
      /* 4*/ {"1\n0", "1", "0", true, true, false, false},
      /* 5*/ {"", "", "", true, true, true, true},
      /* 6*/ {"0", "0", "", false, false, false, false},
      /* 7*/ {"1", "1", "", true, true, true, true},
      /* 8*/ {" 0\r\n0", " 0", "0", true, true, false, false},
      /* 9*/ {"0\r1\r\n0", "01", "0", true, true, false, false},
      /*10*/ {"0\x80\r\n0", "0", "0", false, false, false, false},
      /*11*/ {std::string(10000, 'x'), "", "", true, true, true, true},
      /*12*/ {std::nullopt, "", "", false, true, false, false},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const auto& c = cases[row];
    DialogHarness h(DialogHarness::Disk::kMemory);
    if (c.file) h.WriteSettings(*c.file);
    h.MakeDropFolder();
    h.Open();
    EXPECT_EQ(h.dialog().settings_lines().auto_run, c.line0);
    EXPECT_EQ(h.dialog().settings_lines().show_messages, c.line1);
    EXPECT_EQ(h.controls().control(kIdAutoRun).checked, c.auto_run);
    EXPECT_EQ(h.controls().control(kIdShowMessages).visible, c.shown);
    EXPECT_EQ(h.controls().control(kIdShowMessages).checked, c.ticked);
    std::vector<ShownMessage> expected;
    if (c.message) expected.push_back({Text(TextId::kInputMissing), MessageIcon::kError});
    EXPECT_EQ(h.view().messages(), expected);
    EXPECT_EQ(h.dialog().outcome(), RunOutcome::kInputMissing);
    ExpectEndedCleanly(h);

    // Started with --dialog: the same boxes shown as automatic mode on, the input left alone.
    DialogHarness d(DialogHarness::Disk::kMemory);
    if (c.file) d.WriteSettings(*c.file);
    d.MakeDropFolder();
    d.DropInput("101\r\n");
    d.Open(StartMode::kDialog);
    EXPECT_FALSE(d.dialog().end_result().has_value());
    EXPECT_TRUE(d.controls().control(kIdAutoRun).checked);
    EXPECT_TRUE(d.controls().control(kIdShowMessages).visible);
    EXPECT_EQ(d.controls().control(kIdShowMessages).checked, c.ticked);
    EXPECT_FALSE(d.controls().control(kIdProgressBar).visible);
    EXPECT_TRUE(d.view().messages().empty());
    EXPECT_EQ(d.Read(d.folders().InputFile()), "101\r\n");
    EXPECT_FALSE(d.ResultExists());
  }
}

TEST(DialogCommandTest, InputCheckRefusesAnythingButZerosAndOnes) {
  const struct {
    std::string typed;
    bool refused;
  } cases[] = {{"0101", false}, {"", false},   {"2", true},
               {"01a", true},   {"1 0", true}, {"１", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.typed);
    DialogHarness h;
    h.Open();
    h.controls().SetText(kIdOutput, "11");  // converted from the text before this change
    h.view().TypeInto(h.dialog(), kIdInput, c.typed);
    // No result stands beside a text it was not converted from, accepted or refused.
    EXPECT_EQ(h.controls().control(kIdOutput).text, "");
    if (c.refused) {
      EXPECT_EQ(h.view().messages(),
                std::vector<ShownMessage>({{Text(TextId::kNotBinary), MessageIcon::kError}}));
      EXPECT_EQ(h.controls().control(kIdInput).text, "");
    } else {
      EXPECT_TRUE(h.view().messages().empty());
      EXPECT_EQ(h.controls().control(kIdInput).text, c.typed);
    }
  }
}

TEST(DialogCommandTest, ConvertFillsTheOutputField) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "0"},
      {"101", "5"},
      {std::string(kMaxLineDigits, '1'), std::to_string(kLargestDecimal)},
      {"1" + std::string(kMaxLineDigits, '0'), "-1"}};
  DialogHarness h;
  h.Open();
  for (const auto& [input, output] : cases) {
    SCOPED_TRACE(input);
    h.controls().SetText(kIdInput, input);
    h.controls().SetText(kIdOutput, "stale");
    EXPECT_TRUE(h.dialog().OnCommand(kIdConvert, Notification::kClicked));
    EXPECT_EQ(h.controls().control(kIdOutput).text, output);
  }
}

TEST(DialogCommandTest, AutoRunCreatesTheDropFolderAndTogglesShowMessages) {
  DialogHarness h;
  h.WriteSettings("1\r\n1");
  h.Open();
  RecordingView& v = h.view();

  v.ClickCheckBox(h.dialog(), kIdAutoRun);  // ticked: folder made
  EXPECT_TRUE(fs::is_directory(h.folders().auto_file));
  EXPECT_TRUE(h.dialog().keep_drop_folder());
  EXPECT_TRUE(h.controls().control(kIdShowMessages).visible);
  EXPECT_TRUE(h.controls().control(kIdShowMessages).checked);

  v.ClickCheckBox(h.dialog(), kIdAutoRun);  // unticked: the empty folder goes, box hidden
  EXPECT_FALSE(fs::exists(h.folders().auto_file));
  EXPECT_FALSE(h.dialog().keep_drop_folder());
  EXPECT_FALSE(h.controls().control(kIdShowMessages).visible);

  h.MakeDropFolder();                       // a calling program makes it again
  v.ClickCheckBox(h.dialog(), kIdAutoRun);  // ticked again: the folder is there already
  EXPECT_TRUE(h.dialog().keep_drop_folder());
  EXPECT_TRUE(h.controls().control(kIdShowMessages).visible);

  EXPECT_EQ(v.messages(),
            std::vector<ShownMessage>({{Text(TextId::kAutoFileCreated), MessageIcon::kInformation},
                                       {Text(TextId::kAutoFileNotCreated), MessageIcon::kError}}));
}

// Unticking auto-run in a dialog opened with --dialog over an existing drop folder: only an
// empty folder is removed; anything in it stays, and so does automatic mode.
TEST(DialogCommandTest, UntickingAutoRunRemovesOnlyAnEmptyDropFolder) {
  // The notice names the folder, so that the person need not hunt for it, and, when the folder
  // could not be removed for a reason of the system's, that reason.
  const struct {
    const char* name;
    void (*arrange)(DialogHarness&);
    bool folder_stays;
    TextId message;  // kNone: none
    int cause;       // the system's error named in the message; 0: none
  } cases[] = {
      /* 0*/ {"empty folder", [](DialogHarness&) {}, false, TextId::kNone, 0},
      /* 1*/
      {"input file waiting", [](DialogHarness& h) { h.DropInput("101\r\n"); }, true,
       TextId::kAutoFileKept, 0},
      /* 2*/
      {"a folder inside",
       [](DialogHarness& h) { fs::create_directories(h.folders().auto_file + "/x"); }, true,
       TextId::kAutoFileKept, 0},
      /* 3*/
      {"removal fails",
       [](DialogHarness& h) { h.files().FailOn(FileStep::kRemoveDirectory, "AutoFile"); }, true,
       TextId::kAutoFileNotRemoved, EIO},
      /* 4*/
      {"file inside that cannot be listed",
       [](DialogHarness& h) {
         h.DropInput("1");
         h.files().FailOn(FileStep::kList, "AutoFile");
       },
       true, TextId::kAutoFileNotRemoved, ENOTEMPTY},
      /* 5*/
      {"folder removed meanwhile", [](DialogHarness& h) { fs::remove(h.folders().auto_file); },
       false, TextId::kNone, 0},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + cases[row].name);
    const auto& c = cases[row];
    DialogHarness h;
    h.WriteSettings("1\r\n1");
    h.MakeDropFolder();
    h.Open(StartMode::kDialog);
    c.arrange(h);
    const bool had_input = h.InputExists();
    h.view().ClickCheckBox(h.dialog(), kIdAutoRun);
    EXPECT_EQ(fs::is_directory(h.folders().auto_file), c.folder_stays);
    EXPECT_EQ(h.InputExists(), had_input);
    std::vector<ShownMessage> expected;
    if (c.message != TextId::kNone) {
      std::string text =
          Text(c.message) + "\r\n" + Format(TextId::kDropFolderAt, {h.folders().auto_file});
      if (c.cause != 0) {
        text += "\r\n" + CauseLine({FileOperation::kRemoveFolder, h.folders().auto_file, c.cause});
      }
      expected.push_back({text, c.message == TextId::kAutoFileKept ? MessageIcon::kInformation
                                                                   : MessageIcon::kError});
    }
    EXPECT_EQ(h.view().messages(), expected);
    // While the folder stays, automatic mode stays on: the box is ticked again and 終了 saves it.
    EXPECT_EQ(h.controls().control(kIdAutoRun).checked, c.folder_stays);
    EXPECT_EQ(h.dialog().keep_drop_folder(), c.folder_stays);
    EXPECT_EQ(h.controls().control(kIdShowMessages).visible, c.folder_stays);
    h.dialog().OnCommand(kIdExit, Notification::kClicked);
    EXPECT_EQ(ReadFile(h.folders().SettingsFile()), c.folder_stays ? "1\r\n1" : "0\r\n0");
    EXPECT_EQ(h.dialog().end_result(), kResultOk);
  }
}

TEST(DialogCommandTest, ShowMessagesAndVersionChangeNothingElse) {
  DialogHarness h;
  h.Open();
  h.view().ClearLog();
  h.view().ClickCheckBox(h.dialog(), kIdShowMessages);
  EXPECT_TRUE(h.controls().control(kIdShowMessages).checked);
  EXPECT_TRUE(h.dialog().OnCommand(kIdVersion, Notification::kClicked));
  EXPECT_TRUE(h.dialog().OnCommand(kIdVersion, Notification::kClicked));
  EXPECT_EQ(h.view().log(), std::vector<std::string>({"ShowVersionDialog", "ShowVersionDialog"}));
  EXPECT_FALSE(h.dialog().end_result().has_value());
  EXPECT_FALSE(h.dialog().OnCommand(kIdOutput, Notification::kClicked));
}

TEST(DialogExitTest, WritesTheFourSettingsBytes) {
  {
    SCOPED_TRACE("auto-run and show-messages ticked");
    DialogHarness h;
    h.WriteSettings("1\r\n1");
    h.Open();
    h.view().ClickCheckBox(h.dialog(), kIdAutoRun);
    h.dialog().OnCommand(kIdExit, Notification::kClicked);
    EXPECT_EQ(ReadFile(h.folders().SettingsFile()), "1\r\n1");
    EXPECT_EQ(h.dialog().end_result(), kResultOk);
  }
  {
    SCOPED_TRACE("show-messages ticked, then hidden by unticking auto-run");
    DialogHarness h;
    h.Open();
    h.view().ClickCheckBox(h.dialog(), kIdAutoRun);
    h.view().ClickCheckBox(h.dialog(), kIdShowMessages);
    h.view().ClickCheckBox(h.dialog(), kIdAutoRun);
    h.dialog().OnCommand(kIdExit, Notification::kClicked);
    EXPECT_EQ(ReadFile(h.folders().SettingsFile()), "0\r\n0");
  }
  {
    SCOPED_TRACE("auto-run ticked, show-messages left unticked");
    DialogHarness h;
    h.Open();
    h.view().ClickCheckBox(h.dialog(), kIdAutoRun);
    h.dialog().OnCommand(kIdExit, Notification::kClicked);
    EXPECT_EQ(ReadFile(h.folders().SettingsFile()), "1\r\n0");
  }
}

TEST(DialogExitTest, RemakesTheTempFolderButNeverTheDataRoot) {
  DialogHarness h;
  h.Open();
  fs::remove_all(h.folders().temp);
  h.dialog().OnCommand(kIdExit, Notification::kClicked);
  EXPECT_EQ(ReadFile(h.folders().SettingsFile()), "0\r\n0");

  DialogHarness gone;
  gone.Open();
  fs::remove_all(gone.folders().data_root);
  gone.dialog().OnCommand(kIdExit, Notification::kClicked);
  EXPECT_FALSE(fs::exists(gone.folders().data_root));
  EXPECT_EQ(gone.dialog().end_result(), kResultOk);
  EXPECT_TRUE(gone.view().messages().empty());
}

TEST(DialogExitTest, ReadOnlySettingsFileIsLeftAsItIs) {
  DialogHarness h(DialogHarness::Disk::kMemory);
  h.WriteSettings("1\r\n1");
  h.MarkReadOnly(h.folders().SettingsFile());
  h.Open();
  h.dialog().OnCommand(kIdExit, Notification::kClicked);
  EXPECT_EQ(h.Read(h.folders().SettingsFile()), "1\r\n1");
  EXPECT_EQ(h.dialog().end_result(), kResultOk);
}

TEST(DialogExitTest, CloseRequestEndsWithCancelAndWritesNothing) {
  DialogHarness h;
  h.Open();
  h.view().ClickCheckBox(h.dialog(), kIdAutoRun);
  EXPECT_TRUE(h.dialog().OnCommand(kIdCancel, Notification::kClicked));
  EXPECT_EQ(h.dialog().end_result(), kResultCancel);
  EXPECT_FALSE(fs::exists(h.folders().SettingsFile()));
}

// The automatic start for each kind of input file, with messages allowed by the settings.
TEST(AutomaticStartTest, OutcomeForEachInputFile) {
  const std::string too_large(kReadLimit + 1, '1');
  const struct {
    const char* name;
    std::optional<std::string> input;  // nullopt: no file
    RunOutcome outcome;
    std::string message;
  } cases[] = {
      {"missing", std::nullopt, RunOutcome::kInputMissing, Text(TextId::kInputMissing)},
      {"empty", "", RunOutcome::kInputEmpty, Text(TextId::kInputEmpty)},
      {"space", "1 \r\n", RunOutcome::kInputNotBinary, Text(TextId::kInputNotBinary)},
      {"digit two", "12\r\n", RunOutcome::kInputNotBinary, Text(TextId::kInputNotBinary)},
      {"comma", "1,0", RunOutcome::kInputNotBinary, Text(TextId::kInputNotBinary)},
      {"tab", "1\t", RunOutcome::kInputNotBinary, Text(TextId::kInputNotBinary)},
      {"byte-order mark",
       "\xEF\xBB\xBF"
       "1\r\n",
       RunOutcome::kInputNotBinary, Text(TextId::kInputNotBinary)},
      {"zero byte first",
       std::string("\0"
                   "101\r\n",
                   6),
       RunOutcome::kInputNotBinary, Text(TextId::kInputNotBinary)},
      {"zero byte inside",
       std::string("101\r\n\0"
                   "11\r\n",
                   10),
       RunOutcome::kInputNotBinary, Text(TextId::kInputNotBinary)},
      {"over the read limit", too_large, RunOutcome::kInputTooLarge, Text(TextId::kInputTooLarge)},
      {"line of 32 digits", "1\r\n" + std::string(kMaxLineDigits, '0') + "1\r\n",
       RunOutcome::kLineTooLong, Text(TextId::kLineTooLong)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DialogHarness h;
    h.WriteSettings("1\r\n1");
    h.MakeDropFolder();
    WriteFile(h.folders().ResultFile(), "old\r\n");
    if (c.input) h.DropInput(*c.input);
    h.Open();
    EXPECT_EQ(h.dialog().outcome(), c.outcome);
    EXPECT_EQ(h.view().messages(), std::vector<ShownMessage>({{c.message, MessageIcon::kError}}));
    EXPECT_EQ(h.view().beeps(), 0);
    EXPECT_EQ(h.InputExists(), c.input.has_value());
    if (c.input) {
      EXPECT_EQ(ReadFile(h.folders().InputFile()), *c.input);
    }
    EXPECT_EQ(h.Result(), "old\r\n");
    EXPECT_TRUE(fs::is_directory(h.folders().auto_file));
    ExpectEndedCleanly(h);
  }
}

TEST(AutomaticStartTest, FolderInTheInputFilesPlaceCountsAsMissing) {
  DialogHarness h;
  h.WriteSettings("1\r\n1");
  fs::create_directories(h.folders().InputFile());
  h.Open();
  EXPECT_EQ(h.dialog().outcome(), RunOutcome::kInputMissing);
  EXPECT_TRUE(fs::is_directory(h.folders().InputFile()));
}

struct RunCase {
  const char* name;
  std::string input;
  std::string result;
};

TEST(AutomaticStartTest, ConvertsValidFilesAndDeletesThem) {
  const RunCase cases[] = {
      {"worked example", "101\r\n11\r\n", "5\r\n3\r\n"},
      {"line feeds only", "101\n11\n", "5\r\n3\r\n"},
      {"blank lines", "\r\n101\r\n\r\n11\r\n\r\n", "5\r\n3\r\n"},
      {"lone carriage return", "10\r1", "5\r\n"},
      {"single digit", "1", "1\r\n"},
      {"line breaks only", "\r\n", ""},
      {"31 ones", std::string(kMaxLineDigits, '1') + "\r\n",
       std::to_string(kLargestDecimal) + "\r\n"},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.name);
    DialogHarness h;
    h.WriteSettings("1\r\n1");
    h.MakeDropFolder();
    WriteFile(h.folders().ResultFile(), "an older and longer result\r\n");
    h.DropInput(c.input);
    h.Open();
    EXPECT_EQ(h.dialog().outcome(), RunOutcome::kOk);
    EXPECT_EQ(h.Result(), c.result);
    EXPECT_FALSE(h.InputExists());
    EXPECT_TRUE(fs::is_directory(h.folders().auto_file));  // kept for the next file
    EXPECT_EQ(h.view().messages(),
              std::vector<ShownMessage>({{Text(TextId::kCompleted), MessageIcon::kInformation}}));
    EXPECT_EQ(h.view().beeps(), 1);
    EXPECT_FALSE(h.controls().control(kIdAutoRun).checked);
    ExpectEndedCleanly(h);
  }
}

TEST(AutomaticStartTest, ReadOnlyInputIsDeletedAllTheSame) {
  DialogHarness h;
  h.MakeDropFolder();
  h.DropInput("1\r\n");
  ::chmod(h.folders().InputFile().c_str(), 0444);
  h.Open();
  EXPECT_EQ(h.dialog().outcome(), RunOutcome::kOk);
  EXPECT_FALSE(h.InputExists());
  EXPECT_EQ(h.Result(), "1\r\n");
  EXPECT_TRUE(h.view().messages().empty());  // no settings file: silent
  EXPECT_EQ(h.view().beeps(), 1);
}

// The progress bar and text, step by step, for the input "1" CR LF.
TEST(RunBatchTest, ProgressSequenceOfTheSmallestFile) {
  DialogHarness h;
  h.MakeDropFolder();
  h.DropInput("1\r\n");
  h.Open();
  const std::vector<std::string>& log = h.view().log();
  auto start = std::find(log.begin(), log.end(), "SetChecked(1005,1)");
  ASSERT_NE(start, log.end());
  const std::vector<std::string> expected = {
      "SetChecked(1005,1)",
      "Enable(1,0)",
      "Show(1009,1)",
      "Show(1004,1)",
      "BeginWaitCursor",
      "SetRange(1004,12)",
      "Drain",
      "SetPos(1004,0)",
      "SetText(1009,進捗率\u30000 %)",
      "SetPos(1004,0)",
      "SetRange(1004,8)",
      "Drain",
      "SetPos(1004,4)",
      "SetText(1009,進捗率\u300050 %)",
      "Drain",
      "SetPos(1004,6)",
      "SetText(1009,進捗率\u300075 %)",
      "Drain",
      "SetPos(1004,7)",
      "SetText(1009,進捗率\u300087 %)",
      "Pause(100)",
      "SetChecked(1005,0)",
      "Drain",
      "SetPos(1004,8)",
      "SetText(1009,進捗率\u3000100 %)",
      "Enable(1,1)",
      "SetText(1009)",
      "Show(1009,0)",
      "SetPos(1004,0)",
      "Show(1004,0)",
      "Beep(64)",
      "EndWaitCursor",
      "EndDialog(-1)",
  };
  EXPECT_EQ(std::vector<std::string>(start, log.end()), expected);
  EXPECT_EQ(h.Result(), "1\r\n");
}

// A large file shows its progress in order, reaches 100 % and skips only invisible steps; with
// no time passing between them, only the first and last of each stretch.
TEST(RunBatchTest, LargeFileProgressStaysOrderedAndBounded) {
  std::string input;
  for (int i = 0; input.size() < 1'000'000; ++i) input += (i % 3 ? "1011\r\n" : "1\r\n");
  for (const bool clock_stopped : {false, true}) {
    SCOPED_TRACE(clock_stopped ? "no time passes" : "time passes");
    DialogHarness h;
    if (clock_stopped) h.StopTheClock();
    h.MakeDropFolder();
    h.DropInput(input);
    h.Open();
    int updates = 0;
    uint64_t last = 0;
    bool ordered = true;
    for (const std::string& entry : h.view().log()) {
      if (entry.rfind("SetRange", 0) == 0) last = 0;
      if (entry.rfind("SetPos(1004,", 0) != 0) continue;
      uint64_t position = std::stoull(entry.substr(12));
      if (position != 0 && position < last) ordered = false;
      last = position;
      ++updates;
    }
    EXPECT_TRUE(ordered);
    if (clock_stopped) {
      // Two stretches of first and last, the three steps after the lines, and the bar put back.
      EXPECT_EQ(updates, 2 + 2 + 3 + 2);
    } else {
      EXPECT_LT(updates, 2 * 4096 + 300);
      EXPECT_GT(updates, 200);
    }
    const auto& log = h.view().log();
    EXPECT_NE(std::find(log.begin(), log.end(), "SetText(1009,進捗率\u3000100 %)"), log.end());
    EXPECT_EQ(h.dialog().outcome(), RunOutcome::kOk);
  }
}

// The box of an outcome whose text is Quorvane's own: that text, then the cause on a line of its
// own, naming the failed step and the system's reason.
void ExpectMessageWithCause(DialogHarness& h, TextId text, FileOperation step,
                            const std::string& why) {
  const FileError& cause = h.dialog().run_details().cause;
  EXPECT_EQ(cause.operation, step);
  ASSERT_EQ(h.view().messages().size(), 1u);
  const std::string& shown = h.view().messages()[0].text;
  EXPECT_EQ(shown, Text(text) + "\r\n" + CauseLine(cause));
  EXPECT_NE(shown.find(why), std::string::npos) << shown;
  EXPECT_EQ(h.view().messages()[0].icon, MessageIcon::kError);
}

// Writes that cannot happen must never cost the input file.
TEST(RunBatchTest, UnwritableResultKeepsTheInput) {
  const struct {
    const char* name;
    void (*arrange)(DialogHarness&);
    FileOperation step;
    std::string why;
  } cases[] = {
      {"folder in the result file's place",
       [](DialogHarness& h) { fs::create_directories(h.folders().ResultFile()); },
       FileOperation::kRename, Text(TextId::kNotAPlainFile)},
      {"read-only result file",
       [](DialogHarness& h) {
         WriteFile(h.folders().ResultFile(), "old\r\n");
         ::chmod(h.folders().ResultFile().c_str(), 0444);
       },
       FileOperation::kRename, Text(TextId::kMarkedReadOnly)},
      {"result folder is a file",
       [](DialogHarness& h) {
         fs::create_directories(h.folders().data_root);
         WriteFile(h.folders().result, "not a folder");
       },
       FileOperation::kCreate, SystemErrorText(ENOTDIR)},
      {"disk full while writing",
       [](DialogHarness& h) { h.files().FailOn(FileStep::kWrite, "Decyield", 0, ENOSPC); },
       FileOperation::kWrite, SystemErrorText(ENOSPC)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DialogHarness h;
    h.WriteSettings("1\r\n1");
    h.MakeDropFolder();
    h.DropInput("101\r\n");
    c.arrange(h);
    h.Open();
    EXPECT_EQ(h.dialog().outcome(), RunOutcome::kResultNotWritten);
    EXPECT_TRUE(h.InputExists());
    ExpectMessageWithCause(h, TextId::kResultNotWritten, c.step, c.why);
    EXPECT_EQ(h.view().beeps(), 0);
    ExpectEndedCleanly(h);
  }
}

TEST(RunBatchTest, UndeletableInputStillEndsTheRun) {
  DialogHarness h;
  h.WriteSettings("1\r\n1");
  h.MakeDropFolder();
  h.DropInput("11\r\n");
  h.files().FailOn(FileStep::kDelete, "Bintake", 0, EACCES);
  h.Open();
  EXPECT_EQ(h.dialog().outcome(), RunOutcome::kInputNotDeleted);
  EXPECT_EQ(h.Result(), "3\r\n");
  EXPECT_TRUE(h.InputExists());
  ExpectMessageWithCause(h, TextId::kInputNotDeleted, FileOperation::kDelete,
                         SystemErrorText(EACCES));
  ExpectEndedCleanly(h);
}

TEST(AutomaticStartTest, InputThatCannotBeQueriedOrReadStays) {
  const struct {
    const char* name;
    FileStep step;
    int nth;
    RunOutcome outcome;
    std::string message;
  } cases[] = {
      // The file cannot even be looked up: as missing as a file that is not there.
      {"status fails", FileStep::kStatus, 1, RunOutcome::kInputMissing,
       Text(TextId::kInputMissing)},
      {"read fails", FileStep::kRead, 0, RunOutcome::kInputUnreadable,
       Text(TextId::kInputUnreadable)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DialogHarness h;
    h.WriteSettings("1\r\n1");
    h.MakeDropFolder();
    h.DropInput("101\r\n");
    h.files().FailOn(c.step, "Bintake", c.nth);
    h.Open();
    EXPECT_TRUE(h.files().fault_hit());
    EXPECT_EQ(h.dialog().outcome(), c.outcome);
    if (c.outcome == RunOutcome::kInputUnreadable) {
      ExpectMessageWithCause(h, TextId::kInputUnreadable, FileOperation::kRead,
                             SystemErrorText(EIO));
    } else {
      // The input checks' texts stay exactly as they are: no cause follows them.
      EXPECT_EQ(h.view().messages(), std::vector<ShownMessage>({{c.message, MessageIcon::kError}}));
    }
    EXPECT_TRUE(h.InputExists());
    EXPECT_FALSE(h.ResultExists());
    ExpectEndedCleanly(h);
  }
}

TEST(AutomaticStartTest, SecondCopyLeavesTheDropFolderToTheFirst) {
  DialogHarness h;
  h.WriteSettings("1\r\n1");
  h.MakeDropFolder();
  h.DropInput("101\r\n");
  fs::create_directories(h.folders().temp);
  FileSystem::LockAttempt held = RealFileSystem().TryLock(h.folders().temp);
  ASSERT_TRUE(held.lock);
  h.Open();
  EXPECT_EQ(h.dialog().outcome(), RunOutcome::kBusy);
  EXPECT_TRUE(h.InputExists());
  EXPECT_FALSE(h.ResultExists());
  EXPECT_TRUE(h.view().messages().empty());
  ExpectEndedCleanly(h);
}

TEST(AutomaticStartTest, TempFolderThatCannotBeLockedDoesNotBlockEveryStart) {
  DialogHarness h;
  h.MakeDropFolder();
  h.DropInput("101\r\n");
  WriteFile(h.folders().temp, "");  // a file in the locked folder's place
  h.Open();
  EXPECT_EQ(h.dialog().outcome(), RunOutcome::kOk);
  EXPECT_EQ(h.Result(), "5\r\n");
}

// What another program may do to the drop folder and the Result folder around a run: nothing
// it planted is written through, and nothing it dropped is lost.
TEST(RunBatchTest, WhatOthersDoAroundTheRunIsNeverLost) {
  struct Row {
    const char* name;
    std::function<void(DialogHarness&, const std::string& outside)> setup;
    RunOutcome outcome;
    std::optional<std::string> input_after;  // nullopt: deleted
    std::vector<ShownMessage> messages;
  };
  const std::vector<ShownMessage> completed = {
      {Text(TextId::kCompleted), MessageIcon::kInformation}};
  const auto before_flush = [](DialogHarness& h, std::function<void(DialogHarness&)> action) {
    h.files().Before(FileStep::kFlush, "Decyield", [&h, action] { action(h); });
  };
  // Kept open for writing from the moment the input is read until the run has ended.
  std::optional<std::ofstream> writer;
  const Row rows[] = {
      /* 0*/ {"links at the old temporary name and at the result",
              [](DialogHarness& h, const std::string& outside) {
                fs::create_symlink(outside, h.folders().ResultFile() + ".partial");
                fs::create_hard_link(outside, h.folders().ResultFile());
              },
              RunOutcome::kOk, std::nullopt, completed},
      /* 1*/
      {"a killed run's temporary file is cleared away",
       [](DialogHarness& h, const std::string&) {
         WriteFile(h.folders().ResultFile() + ".q1w2e3.partial", "5\r");
       },
       RunOutcome::kOk, std::nullopt, completed},
      /* 2*/
      {"a new input renamed into place during the run waits for the next start",
       [&](DialogHarness& h, const std::string&) {
         before_flush(h, [](DialogHarness& run) {
           WriteFile(run.folders().auto_file + "/next", "1\r\n");
           fs::rename(run.folders().auto_file + "/next", run.folders().InputFile());
         });
       },
       RunOutcome::kOk, "1\r\n", completed},
      /* 3*/
      {"a program that opens the input to write during the run finds it kept",
       [&](DialogHarness& h, const std::string&) {
         before_flush(h, [](DialogHarness& run) {
           // It would wait until the run lets go of the file; here it is told so at once.
           EXPECT_EQ(::open(run.folders().InputFile().c_str(), O_WRONLY | O_NONBLOCK), -1);
           EXPECT_EQ(errno, EWOULDBLOCK);
         });
       },
       RunOutcome::kInputChanged,
       "11\r\n",
       {{Text(TextId::kInputChanged), MessageIcon::kError}}},
      /* 4*/
      {"an input still open for writing is not read",
       [&](DialogHarness& h, const std::string&) {
         h.files().Before(FileStep::kRead, "Bintake", [&writer, &h] {
           writer.emplace(h.folders().InputFile(), std::ios::app | std::ios::binary);
         });
       },
       RunOutcome::kInputUnreadable,
       "11\r\n",
       {{Text(TextId::kInputUnreadable), MessageIcon::kError}}},
      /* 5*/
      {"a new input renamed into place as the old one is deleted waits for the next start",
       [&](DialogHarness& h, const std::string&) {
         h.files().Before(FileStep::kDelete, "Bintake", [&h] {
           WriteFile(h.folders().auto_file + "/next", "1\r\n");
           fs::rename(h.folders().auto_file + "/next", h.folders().InputFile());
         });
       },
       RunOutcome::kOk, "1\r\n", completed},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].name);
    DialogHarness h;
    h.WriteSettings("1\r\n1");
    h.MakeDropFolder();
    h.DropInput("11\r\n");
    fs::create_directories(h.folders().result);
    const std::string outside = h.folders().data_root + "/elsewhere.txt";
    WriteFile(outside, "precious");
    rows[row].setup(h, outside);
    h.Open();
    writer.reset();
    EXPECT_EQ(h.dialog().outcome(), rows[row].outcome);
    std::vector<ShownMessage> expected = rows[row].messages;
    if (rows[row].outcome == RunOutcome::kInputUnreadable) {
      // Why it was not read follows on a line of its own.
      expected[0].text += "\r\n" + CauseLine({FileOperation::kOpen, h.folders().InputFile(), 0,
                                              FileFailure::kHeldForWriting});
    }
    EXPECT_EQ(h.view().messages(), expected);
    EXPECT_EQ(ReadFile(outside), "precious");
    if (rows[row].outcome != RunOutcome::kInputUnreadable) {
      EXPECT_EQ(h.Result(), "3\r\n");
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(h.folders().ResultFile())));
    }
    EXPECT_EQ(h.InputExists(), rows[row].input_after.has_value());
    if (rows[row].input_after) {
      EXPECT_EQ(ReadFile(h.folders().InputFile()), *rows[row].input_after);
    }
    ExpectEndedCleanly(h);
  }
}

std::string Repeated(const std::string& piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// A power cut after any change a run makes, whatever the disk then keeps of what was not yet put
// on it, loses nothing: after the next start the input is whole (beside the old result or the
// whole new one), or the whole new result is there and the input gone. Never a torn result, and
// never the input gone without the whole result.
TEST(PowerCutTest, EveryCutOfARunAndEveryAllowedLossLeavesTheInputOrTheWholeResult) {
  const struct {
    const char* name;
    std::string input;
    std::string result;
  } runs[] = {
      /* 0*/ {"small", "101\r\n11\r\n", "5\r\n3\r\n"},
      /* 1*/ {"large", Repeated("1011\r\n", 40000), Repeated("11\r\n", 40000)},
  };
  const std::string old_result = "9\r\n";
  const auto prepare = [&old_result](DialogHarness& harness, const std::string& input) {
    harness.MakeDropFolder();
    harness.DropInput(input);
    ASSERT_TRUE(harness.memory().MakeDirectory(harness.folders().result));
    ASSERT_TRUE(ReplaceFileSafely(harness.memory(), harness.folders().ResultFile(), old_result));
    harness.memory().SyncAll();
  };
  int states = 0;
  for (size_t row = 0; row < std::size(runs); ++row) {
    SCOPED_TRACE(std::string("run ") + std::to_string(row) + ": " + runs[row].name);
    int changes = 0;
    {
      DialogHarness whole(DialogHarness::Disk::kMemory);
      prepare(whole, runs[row].input);
      const int before = whole.memory().changes();
      whole.Open();
      ASSERT_EQ(whole.dialog().outcome(), RunOutcome::kOk);
      changes = whole.memory().changes() - before;
    }
    ASSERT_GT(changes, 3);
    for (int cut = 0; cut <= changes; ++cut) {
      DialogHarness cut_run(DialogHarness::Disk::kMemory);
      prepare(cut_run, runs[row].input);
      cut_run.memory().CutPowerAfter(cut_run.memory().changes() + cut);
      cut_run.Open();
      // The next start finds the disk in each state the cut may have left.
      DialogHarness& next = cut_run;
      for (const MemoryFileSystem& state : cut_run.memory().CrashStates()) {
        next.memory() = state;
        next.Open();
        ++states;
        const std::optional<std::string> input = next.Read(next.folders().InputFile());
        const std::optional<std::string> result = next.Result();
        const bool input_whole =
            input == runs[row].input && (result == old_result || result == runs[row].result);
        const bool converted = !input && result == runs[row].result;
        EXPECT_TRUE(input_whole || converted)
            << "cut after change " << cut << " of " << changes << ": input "
            << (input ? std::to_string(input->size()) + " bytes" : "gone") << ", result "
            << (result ? std::to_string(result->size()) + " bytes" : "gone");
      }
    }
  }
  std::printf("%d crash states explored\n", states);
}

TEST(KeyboardFilterTest, OnlyKeyDownsAreKeptFromTheDialogManager) {
  EXPECT_FALSE(OfferedToDialogManager(MessageKind::kKeyDown));
  for (MessageKind kind : {MessageKind::kKeyUp, MessageKind::kCharacter, MessageKind::kSystemKey,
                           MessageKind::kOther}) {
    EXPECT_TRUE(OfferedToDialogManager(kind));
  }
}

TEST(DialogTemplateTest, MainDialogHasItsControlsInTemplateOrder) {
  const DialogTemplate& main = MainDialogTemplate();
  ASSERT_EQ(main.controls.size(), 19u);
  std::vector<int> ids;
  for (const ControlTemplate& control : main.controls) ids.push_back(control.id);
  EXPECT_EQ(ids, std::vector<int>({1, 1000, 1001, 1002, 1003, -1, 1004, 1005, 1006, -1, -1, -1, -1,
                                   -1, 1007, 1008, 1009, 1010, -1}));
  EXPECT_EQ(FindControl(main, kIdInput)->style, 0x50813084u);
  EXPECT_EQ(VersionDialogTemplate().controls.size(), 8u);
}

}  // namespace
}  // namespace quorvane
