// Makes every single file-system call of an automatic run, and of the exit button, fail in turn
// and checks that nothing is lost and the dialog says what happened: the input file stays unless
// a complete new result is in place, no temporary result file is left over, the outcome matches
// the files, and the controls are back to rest.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "storage/file_primitives.h"
#include "tests/support/dialog_harness.h"
#include "ui/dialog_templates.h"
#include "ui/texts.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr FileStep kAllSteps[] = {
    FileStep::kStatus, FileStep::kMakeDirectory, FileStep::kRemoveDirectory, FileStep::kList,
    FileStep::kRead,   FileStep::kCreate,        FileStep::kWrite,           FileStep::kFlush,
    FileStep::kClose,  FileStep::kRename,        FileStep::kDelete,          FileStep::kLock,
    FileStep::kSync,
};

const char* StepName(FileStep step) {
  constexpr const char* kNames[] = {
      "Status", "MakeDirectory", "RemoveDirectory", "List",   "Read", "Create", "Write",
      "Flush",  "Close",         "Rename",          "Delete", "Lock", "Sync"};
  static_assert(std::size(kNames) == static_cast<size_t>(FileStep::kSync) + 1);
  return kNames[static_cast<int>(step)];
}

// ---------------------------------------------------------------------------------------------
// Automatic runs

struct RunScenario {
  const char* name;
  std::string input;
  bool read_only_input = false;
  std::optional<std::string> old_result;  // nullopt: no result file before the run
  std::optional<std::string> settings;    // nullopt: no settings file
  std::string new_result;                 // what a completed run writes
  RunOutcome clean_outcome;               // without any fault
};

const RunScenario kRunScenarios[] = {
    /* 0*/ {"two lines, an old result, messages on", "101\r\n11\r\n", false, "9\r\n", "1\r\n1",
            "5\r\n3\r\n", RunOutcome::kOk},
    /* 1*/
    {"read-only input, no result yet, no settings file", "1\n\n10", true, std::nullopt,
     std::nullopt, "1\r\n2\r\n", RunOutcome::kOk},
    /* 2*/
    {"a line too long, messages on", "1\r\n" + std::string(32, '1'), false, "9\r\n", "1\r\n1", "",
     RunOutcome::kLineTooLong},
    /* 3*/
    {"only line breaks, messages off", "\r\n\n", false, "9\r\n", "1\r\n0", "", RunOutcome::kOk},
};

void Prepare(DialogHarness& harness, const RunScenario& scenario) {
  if (scenario.settings) harness.WriteSettings(*scenario.settings);
  if (scenario.old_result) WriteFile(harness.folders().ResultFile(), *scenario.old_result);
  harness.MakeDropFolder();
  harness.DropInput(scenario.input);
  if (scenario.read_only_input) ::chmod(harness.folders().InputFile().c_str(), 0444);
}

std::optional<std::string> ResultNow(DialogHarness& harness) {
  if (!fs::is_regular_file(harness.folders().ResultFile())) return std::nullopt;
  return harness.Result();
}

// What must hold however the run ended.
void ExpectNothingLost(DialogHarness& harness, const RunScenario& scenario) {
  const bool input_present = harness.InputExists();
  const std::optional<std::string> result = ResultNow(harness);
  EXPECT_FALSE(TemporaryLeftBeside(harness.folders().ResultFile()))
      << "a temporary result file was left over";
  EXPECT_EQ(harness.controls().wait_cursor_depth(), 0);

  CQuorvaneDlg& dialog = harness.dialog();
  if (!dialog.end_result()) {
    // The drop folder could not be seen, so the dialog was left for interactive use; nothing was
    // touched and nothing was said.
    EXPECT_TRUE(input_present);
    EXPECT_EQ(result, scenario.old_result);
    EXPECT_TRUE(harness.view().messages().empty());
    EXPECT_FALSE(harness.controls().control(kIdProgressBar).visible);
    EXPECT_FALSE(harness.controls().control(kIdProgressText).visible);
    return;
  }
  EXPECT_EQ(*dialog.end_result(), kResultAutomatic);

  const RunOutcome outcome = dialog.outcome();
  EXPECT_TRUE(outcome != RunOutcome::kNoDialog && outcome != RunOutcome::kUsageError &&
              outcome != RunOutcome::kOutOfMemory)
      << "an automatic run cannot end with " << static_cast<int>(outcome);
  switch (outcome) {
    case RunOutcome::kOk:
      EXPECT_FALSE(input_present) << "completed, yet the input file is still there";
      EXPECT_EQ(result, scenario.new_result);
      EXPECT_EQ(harness.view().beeps(), 1);
      break;
    case RunOutcome::kInputNotDeleted:
    case RunOutcome::kInputChanged:
      EXPECT_TRUE(input_present);
      EXPECT_EQ(result, scenario.new_result);
      EXPECT_EQ(harness.view().beeps(), 0);
      break;
    case RunOutcome::kResultNotWritten:
      // The new result may stand in place already, but not yet safely on the disk.
      EXPECT_TRUE(input_present) << "abandoned, yet the input file is gone";
      EXPECT_TRUE(result == scenario.old_result || result == scenario.new_result);
      EXPECT_EQ(harness.view().beeps(), 0);
      break;
    default:
      EXPECT_TRUE(input_present) << "abandoned, yet the input file is gone";
      EXPECT_EQ(result, scenario.old_result) << "abandoned, yet the result file changed";
      EXPECT_EQ(harness.view().beeps(), 0);
      break;
  }

  // Back at rest, whichever way the run went.
  const HeadlessView& controls = harness.controls();
  EXPECT_TRUE(controls.control(kIdExit).enabled);
  EXPECT_FALSE(controls.control(kIdProgressBar).visible);
  EXPECT_EQ(controls.control(kIdProgressBar).position, 0u);
  EXPECT_FALSE(controls.control(kIdProgressText).visible);
  EXPECT_EQ(controls.control(kIdProgressText).text, "");

  // One message, the one for this outcome, when messages are allowed; none otherwise.
  const bool allowed =
      controls.control(kIdShowMessages).checked && !IsOff(dialog.settings_lines().show_messages);
  std::vector<std::string> expected;
  if (MessageFor(outcome).text != TextId::kNone && allowed) {
    expected.push_back(OutcomeMessageText(outcome, dialog.run_details()));
  }
  std::vector<std::string> shown;
  for (const ShownMessage& message : harness.view().messages()) shown.push_back(message.text);
  EXPECT_EQ(shown, expected) << "outcome " << static_cast<int>(outcome);
}

TEST(FaultInjectionTest, EveryFailingCallOfAnAutomaticRunLosesNothing) {
  int faults = 0;
  for (size_t row = 0; row < std::size(kRunScenarios); ++row) {
    const RunScenario& scenario = kRunScenarios[row];
    SCOPED_TRACE("scenario " + std::to_string(row) + ": " + scenario.name);

    // Counts the calls of each step in a run without faults, which must itself come out right.
    std::map<FileStep, int> counts;
    {
      DialogHarness clean;
      Prepare(clean, scenario);
      clean.Open();
      ASSERT_EQ(clean.dialog().outcome(), scenario.clean_outcome);
      ExpectNothingLost(clean, scenario);
      for (FileStep step : kAllSteps) counts[step] = clean.files().calls(step);
    }
    ASSERT_GT(counts[FileStep::kStatus], 0);

    for (FileStep step : kAllSteps) {
      for (int nth = 1; nth <= counts[step]; ++nth) {
        SCOPED_TRACE(std::string(StepName(step)) + " call " + std::to_string(nth) + " of " +
                     std::to_string(counts[step]) + " fails");
        DialogHarness harness;
        Prepare(harness, scenario);
        harness.files().FailOn(step, "", nth);
        harness.Open();
        ASSERT_TRUE(harness.files().fault_hit()) << "the run took another path before the fault";
        ExpectNothingLost(harness, scenario);
        ++faults;
      }
    }
  }
  std::printf("%d single faults injected\n", faults);
}

// Faults aimed at one step of one file, with the outcome each must give.
struct AimedFault {
  int scenario;
  FileStep step;
  const char* path_part;
  int nth;
  std::optional<RunOutcome> outcome;  // nullopt: the dialog stays open for interactive use
};

const AimedFault kAimedFaults[] = {
    /* 0*/ {0, FileStep::kStatus, "AutoFile", 1, std::nullopt},
    // No lock to be held by anyone: the run goes on without the lock.
    /* 1*/ {0, FileStep::kLock, "/temp", 1, RunOutcome::kOk},
    /* 2*/ {0, FileStep::kStatus, "Bintake.tbin", 1, RunOutcome::kInputMissing},
    /* 3*/ {0, FileStep::kRead, "Bintake.tbin", 1, RunOutcome::kInputUnreadable},
    /* 4*/ {0, FileStep::kCreate, "Decyield.tbin", 1, RunOutcome::kResultNotWritten},
    /* 5*/ {0, FileStep::kWrite, "Decyield.tbin.", 1, RunOutcome::kResultNotWritten},
    /* 6*/ {0, FileStep::kFlush, "Decyield.tbin.", 1, RunOutcome::kResultNotWritten},
    /* 7*/ {0, FileStep::kClose, "Decyield.tbin.", 1, RunOutcome::kResultNotWritten},
    /* 8*/ {0, FileStep::kRename, "Decyield.tbin", 1, RunOutcome::kResultNotWritten},
    /* 9*/ {0, FileStep::kMakeDirectory, "Result", 1, RunOutcome::kOk},  // Result is there
    /*10*/ {1, FileStep::kMakeDirectory, "Result", 1, RunOutcome::kResultNotWritten},
    /*11*/ {0, FileStep::kDelete, "Bintake.tbin", 1, RunOutcome::kInputNotDeleted},
    /*12*/ {1, FileStep::kDelete, "Bintake.tbin", 1, RunOutcome::kInputNotDeleted},  // read-only
    // Leftovers of killed runs cannot be looked for: the run goes on.
    /*13*/ {0, FileStep::kList, "Result", 1, RunOutcome::kOk},
    /*14*/ {1, FileStep::kList, "Result", 1, RunOutcome::kOk},
    /*15*/ {0, FileStep::kStatus, "Decyield.tbin", 1, RunOutcome::kOk},
    /*16*/ {2, FileStep::kCreate, "Decyield", 0, RunOutcome::kLineTooLong},  // never written
    /*17*/ {0, FileStep::kRead, "Quorvane.tmp", 1, RunOutcome::kOk},
};

TEST(FaultInjectionTest, AimedFaultsGiveTheOutcomeThatNamesThem) {
  for (size_t row = 0; row < std::size(kAimedFaults); ++row) {
    const AimedFault& fault = kAimedFaults[row];
    const RunScenario& scenario = kRunScenarios[fault.scenario];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + StepName(fault.step) + " of " +
                 fault.path_part + " call " + std::to_string(fault.nth) + " fails, scenario " +
                 scenario.name);
    DialogHarness harness;
    Prepare(harness, scenario);
    harness.files().FailOn(fault.step, fault.path_part, fault.nth);
    harness.Open();
    if (fault.nth != 0) {
      EXPECT_TRUE(harness.files().fault_hit());
    }
    if (fault.outcome) {
      ASSERT_TRUE(harness.dialog().end_result().has_value());
      EXPECT_EQ(harness.dialog().outcome(), *fault.outcome);
    } else {
      EXPECT_FALSE(harness.dialog().end_result().has_value());
    }
    ExpectNothingLost(harness, scenario);
  }
}

// ---------------------------------------------------------------------------------------------
// The exit button

struct ExitScenario {
  const char* name;
  std::optional<std::string> old_settings;  // nullopt: no settings file (and no temp folder)
};

const ExitScenario kExitScenarios[] = {
    /* 0*/ {"settings file there", "0\r\n0"},
    /* 1*/ {"temp folder gone: the exit button makes it again", std::nullopt},
};

constexpr const char* kTickedBoth = "1\r\n1";

// Opens the dialog for interactive use and ticks both boxes, as a user would before leaving.
void OpenAndTickBoth(DialogHarness& harness, const ExitScenario& scenario) {
  if (scenario.old_settings) harness.WriteSettings(*scenario.old_settings);
  harness.Open();
  ASSERT_FALSE(harness.dialog().end_result().has_value());
  harness.view().ClickCheckBox(harness.dialog(), kIdAutoRun);
  harness.view().ClickCheckBox(harness.dialog(), kIdShowMessages);
  if (!scenario.old_settings) fs::remove_all(harness.folders().temp);
  harness.view().ClearLog();
}

void ExpectExitEnded(DialogHarness& harness, const ExitScenario& scenario, FileStep step) {
  EXPECT_EQ(harness.dialog().end_result(), kResultOk);
  EXPECT_TRUE(harness.view().messages().empty());
  const std::string path = harness.folders().SettingsFile();
  if (!fs::exists(path)) {
    EXPECT_FALSE(scenario.old_settings.has_value()) << "the old settings file was removed";
    return;
  }
  // The settings file is replaced whole or not at all.
  const std::string now = ReadFile(path);
  const bool unchanged = scenario.old_settings && now == *scenario.old_settings;
  EXPECT_TRUE(now == kTickedBoth || unchanged)
      << "settings file holds \"" << now << "\" after a failing " << StepName(step);
  for (const auto& entry : fs::directory_iterator(harness.folders().temp)) {
    EXPECT_EQ(entry.path().filename(), "Quorvane.tmp") << "stray file in the temp folder";
  }
}

TEST(FaultInjectionTest, EveryFailingCallOfTheExitButtonStillClosesTheDialog) {
  int faults = 0;
  for (size_t row = 0; row < std::size(kExitScenarios); ++row) {
    const ExitScenario& scenario = kExitScenarios[row];
    SCOPED_TRACE("scenario " + std::to_string(row) + ": " + scenario.name);

    std::map<FileStep, int> counts;
    {
      DialogHarness clean;
      OpenAndTickBoth(clean, scenario);
      std::map<FileStep, int> before;
      for (FileStep step : kAllSteps) before[step] = clean.files().calls(step);
      clean.dialog().OnCommand(kIdExit, Notification::kClicked);
      for (FileStep step : kAllSteps) counts[step] = clean.files().calls(step) - before[step];
      ASSERT_EQ(ReadFile(clean.folders().SettingsFile()), kTickedBoth);
      ExpectExitEnded(clean, scenario, FileStep::kLock);
    }
    ASSERT_GT(counts[FileStep::kWrite], 0);

    for (FileStep step : kAllSteps) {
      for (int nth = 1; nth <= counts[step]; ++nth) {
        SCOPED_TRACE(std::string(StepName(step)) + " call " + std::to_string(nth) + " fails");
        DialogHarness harness;
        OpenAndTickBoth(harness, scenario);
        harness.files().FailOn(step, "", nth);
        harness.dialog().OnCommand(kIdExit, Notification::kClicked);
        ASSERT_TRUE(harness.files().fault_hit());
        ExpectExitEnded(harness, scenario, step);
        ++faults;
      }
    }
  }
  std::printf("%d single faults injected\n", faults);
}

}  // namespace
}  // namespace quorvane::testing
