// Kills the real executable at random moments of a run over a large input and checks after each
// kill that nothing was lost: either the input file is still there with the old result intact, or
// the new result is there complete and correct. A half-written Decyield.tbin is never seen.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "convert/limits.h"
#include "tests/support/drop_home.h"
#include "ui/outcome_messages.h"

namespace quorvane::testing {
namespace {

using Clock = std::chrono::steady_clock;

// An input file and the result it must give.
struct Conversion {
  std::string input;
  std::string result;
};

// About `size` bytes of random lines of 1 to kMaxLineDigits digits with CR LF, and their results
// worked out here digit by digit.
Conversion RandomConversion(std::mt19937& random, size_t size) {
  Conversion conversion;
  std::uniform_int_distribution<int> length(1, kMaxLineDigits);
  std::uniform_int_distribution<int> bit(0, 1);
  while (conversion.input.size() < size) {
    unsigned long value = 0;
    for (int digits = length(random); digits > 0; --digits) {
      int b = bit(random);
      conversion.input.push_back(static_cast<char>('0' + b));
      value = value * 2 + static_cast<unsigned long>(b);
    }
    conversion.input += "\r\n";
    conversion.result += std::to_string(value) + "\r\n";
  }
  return conversion;
}

TEST(KillTest, AKilledRunLeavesTheInputWithTheOldResultOrTheWholeNewResult) {
  std::mt19937 random(20261207);
  const Conversion conversions[2] = {RandomConversion(random, 2'000'000),
                                     RandomConversion(random, 2'000'000)};
  ASSERT_NE(conversions[0].result, conversions[1].result);
  DropHome home;
  home.MakeDropFolder();

  // How long a whole run takes here (a sanitizer build is far slower, a loaded machine slower
  // still; the middle of three runs), so that the kills fall anywhere from the start of the process
  // to past its end.
  std::vector<long> whole_runs;
  for (int i = 0; i < 3; ++i) {
    home.DropInput(conversions[1].input);
    const auto started = Clock::now();
    Ending whole = RunQuorvane(home.Environment());
    whole_runs.push_back(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count());
    ASSERT_EQ(whole.code, ExitStatus(RunOutcome::kOk));
    ASSERT_EQ(home.Result(), conversions[1].result);
  }
  std::sort(whole_runs.begin(), whole_runs.end());
  const long run_time = whole_runs[1];

  constexpr int kMinimumRuns = 150;
  constexpr int kMaximumRuns = 150;
  const auto time_budget = std::chrono::seconds(25);
  std::uniform_int_distribution<long> delay_us(0, run_time * 7 / 5);
  int kept_input = 0, replaced_but_input_left = 0, completed = 0, pending_left = 0;
  const auto loop_start = Clock::now();
  int run = 0;
  for (; run < kMaximumRuns; ++run) {
    if (run >= kMinimumRuns && Clock::now() - loop_start > time_budget) break;
    SCOPED_TRACE("run " + std::to_string(run));
    const Conversion& old_conversion = conversions[(run + 1) % 2];
    const Conversion& conversion = conversions[run % 2];
    home.WriteResult(old_conversion.result);
    home.DropInput(conversion.input);

    const long delay = delay_us(random);
    pid_t pid = Spawn({QuorvaneExecutable(), {}, home.Environment()});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    ::kill(pid, SIGKILL);
    Ending ending = WaitFor(pid);
    ASSERT_FALSE(ending.hung);
    // A run that finished before the kill must have finished well: a lock left by an earlier,
    // killed copy never makes it busy.
    if (ending.exited) {
      ASSERT_EQ(ending.code, ExitStatus(RunOutcome::kOk)) << "after " << delay << " us";
    }

    const std::optional<std::string> result = home.Result();
    ASSERT_TRUE(result.has_value()) << "the result file vanished, killed after " << delay << " us";
    const bool old_result = *result == old_conversion.result;
    const bool new_result = *result == conversion.result;
    ASSERT_TRUE(old_result || new_result)
        << "a result of " << result->size() << " bytes that is neither the old nor the new one,"
        << " killed after " << delay << " us";
    if (!home.InputExists()) {
      ASSERT_TRUE(new_result) << "the input file is gone but the result is the old one";
      ++completed;
    } else if (new_result) {
      ++replaced_but_input_left;
    } else {
      ++kept_input;
    }
    if (home.PendingResultExists()) ++pending_left;
  }

  // The kills have to have met both ends of the run, or the test proved nothing.
  EXPECT_GT(kept_input, 0);
  EXPECT_GT(completed, 0);
  std::printf(
      "%d runs: %d killed before the result was in place, %d between the result and "
      "the deletion, %d after; %d left a temporary result file behind\n",
      run, kept_input, replaced_but_input_left, completed, pending_left);

  // Whatever the kills left behind, the next run completes and leaves nothing temporary.
  home.WriteResult(conversions[0].result);
  home.DropInput(conversions[1].input);
  Ending last = RunQuorvane(home.Environment());
  EXPECT_EQ(last.code, ExitStatus(RunOutcome::kOk));
  EXPECT_EQ(home.Result(), conversions[1].result);
  EXPECT_FALSE(home.InputExists());
  EXPECT_FALSE(home.PendingResultExists());
}

}  // namespace
}  // namespace quorvane::testing
