// Two copies of the real executable started at the same moment on one drop folder, while a reader
// watches the result file the whole time, as a calling program polling for it would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/drop_home.h"
#include "ui/outcome_messages.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

// Starts `count` copies that all wait on one pipe and start the executable together when it is
// closed. Returns their ids.
std::vector<pid_t> StartTogether(const std::vector<std::string>& env, int count) {
  std::vector<char*> envp;
  for (const std::string& entry : env) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  const char* executable = QuorvaneExecutable();
  char* argv[] = {const_cast<char*>(executable), nullptr};

  int gate[2];
  if (::pipe(gate) != 0) return {};
  std::vector<pid_t> children;
  for (int i = 0; i < count; ++i) {
    pid_t pid = ::fork();
    if (pid == 0) {
      // Only async-signal-safe calls from here on: the test has other threads.
      ::close(gate[1]);
      char byte;
      while (::read(gate[0], &byte, 1) < 0) {
      }
      int null_fd = ::open("/dev/null", O_RDWR);
      ::dup2(null_fd, STDIN_FILENO);
      ::dup2(null_fd, STDOUT_FILENO);
      ::dup2(null_fd, STDERR_FILENO);
      ::execve(executable, argv, envp.data());
      ::_exit(127);
    }
    if (pid > 0) children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);  // end of file for every child at once
  return children;
}

std::string Lines(std::mt19937& random, size_t size) {
  std::string text;
  std::uniform_int_distribution<int> bit(0, 1);
  while (text.size() < size) {
    for (int i = 0; i < 20; ++i) text.push_back(static_cast<char>('0' + bit(random)));
    text += "\r\n";
  }
  return text;
}

// Whether a reader in `folder` always finds a file that renames keep replacing. Local file systems
// promise it; FUSE ones (bindfs) let a reader find no file for an instant, and there the watchers
// below can only hold the result to being whole whenever it is found.
bool ReadersAlwaysFindARenamedFile(const std::string& folder) {
  const std::string target = folder + "/probe";
  WriteFile(target, "old");
  std::atomic<bool> running = true;
  std::atomic<int> missing = 0;
  std::thread reader([&] {
    while (running) {
      const int fd = ::open(target.c_str(), O_RDONLY);
      if (fd < 0) ++missing;
      if (fd >= 0) ::close(fd);
    }
  });
  for (int i = 0; i < 500; ++i) {
    WriteFile(folder + "/probe.new", "new");
    fs::rename(folder + "/probe.new", target);
  }
  running = false;
  reader.join();
  fs::remove(target);
  return missing == 0;
}

// Watches the result file the whole time, as a calling program polling for it would: it must
// always be one of `allowed`, whole.
class ResultWatcher {
 public:
  ResultWatcher(const DropHome& home, std::vector<std::string> allowed, bool always_found)
      : path_(home.folders().ResultFile()), allowed_(std::move(allowed)) {
    thread_ = std::thread([this, always_found] {
      while (running_) {
        const int fd = ::open(path_.c_str(), O_RDONLY);
        if (fd < 0) {
          ++(always_found ? bad_ : missing_);
          continue;
        }
        std::string seen;
        char buffer[65536];
        for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;) seen.append(buffer, got);
        ::close(fd);
        ++(std::find(allowed_.begin(), allowed_.end(), seen) != allowed_.end() ? good_ : bad_);
      }
    });
  }
  // Stops watching; returns how many reads found neither whole result (or, where renamed files
  // are always found, no file).
  long Stop() {
    running_ = false;
    thread_.join();
    return bad_;
  }
  long good() const { return good_; }

 private:
  std::string path_;
  std::vector<std::string> allowed_;
  std::atomic<bool> running_ = true;
  std::atomic<long> bad_ = 0, good_ = 0, missing_ = 0;
  std::thread thread_;
};

std::string ResultOf(const std::string& input) {
  std::string result;
  unsigned long value = 0;
  for (char c : input) {
    if (c == '0' || c == '1') value = value * 2 + static_cast<unsigned long>(c - '0');
    if (c == '\n') {
      result += std::to_string(value) + "\r\n";
      value = 0;
    }
  }
  return result;
}

TEST(ConcurrencyTest, TwoCopiesAtOnceConvertTheFileOnceAndNeverShowAMixedResult) {
  std::mt19937 random(7);
  DropHome home;
  home.MakeDropFolder();
  const std::string old_result = "1\r\n";
  constexpr int kRounds = 12;
  int busy_endings = 0;
  long reads = 0;
  const bool always_found = ReadersAlwaysFindARenamedFile(home.folders().result);
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const std::string input = Lines(random, 500'000);
    const std::string result = ResultOf(input);
    home.WriteResult(old_result);
    home.DropInput(input);

    ResultWatcher watcher(home, {old_result, result}, always_found);
    // The copy at work is held for a moment before its result appears: "at once" then means at
    // once even on a loaded machine, where a copy can lose a whole run's time before it starts.
    std::vector<pid_t> copies =
        StartTogether(home.Environment({std::string("LD_PRELOAD=") + QUORVANE_FAIL_IO,
                                        "QUORVANE_SLOW_RENAME=400"}),
                      2);
    std::vector<int> codes;
    for (pid_t pid : copies) {
      Ending ending = WaitFor(pid);
      EXPECT_FALSE(ending.hung);
      EXPECT_TRUE(ending.exited) << "signal " << ending.signal;
      codes.push_back(ending.code);
    }
    const long bad_reads = watcher.Stop();

    ASSERT_EQ(copies.size(), 2u);
    std::sort(codes.begin(), codes.end());
    EXPECT_EQ(codes[0], ExitStatus(RunOutcome::kOk));
    // The other copy found the lock taken, or, started late on a loaded machine, found the
    // input already gone. Two endings with 0 would mean the file was converted twice.
    EXPECT_TRUE(codes[1] == ExitStatus(RunOutcome::kBusy) ||
                codes[1] == ExitStatus(RunOutcome::kInputMissing))
        << "second copy ended with " << codes[1];
    if (codes[1] == ExitStatus(RunOutcome::kBusy)) ++busy_endings;
    EXPECT_EQ(bad_reads, 0) << "the result file was missing or neither old nor new";
    reads += watcher.good();
    EXPECT_EQ(home.Result(), result);
    EXPECT_FALSE(home.InputExists());
    EXPECT_FALSE(home.PendingResultExists());
  }
  EXPECT_GT(busy_endings, 0) << "the copies never overlapped: the lock was not tried";
  std::printf("%d rounds, %d ended busy, %ld reads of the result file while they ran\n", kRounds,
              busy_endings, reads);
}

// Without the lock (the temp folder is a file) copies race for one input file; each writes a
// temporary file of its own, so the result file is never torn and every copy ends well.
TEST(ConcurrencyTest, TwentyCopiesWithoutTheLockNeverTearTheResult) {
  std::mt19937 random(20);
  DropHome home;
  home.MakeDropFolder();
  fs::create_directories(home.folders().data_root);
  WriteFile(home.folders().temp, "a file where the temp folder belongs: no lock can be had");
  const std::string old_result = "1\r\n";
  const std::string input = Lines(random, 800'000);
  const std::string result = ResultOf(input);
  home.WriteResult(old_result);
  home.DropInput(input);

  ResultWatcher watcher(home, {old_result, result},
                        ReadersAlwaysFindARenamedFile(home.folders().result));
  std::vector<pid_t> copies = StartTogether(
      home.Environment({std::string("LD_PRELOAD=") + QUORVANE_FAIL_IO, "QUORVANE_SLOW_RENAME=100"}),
      20);
  int converted = 0;
  for (pid_t pid : copies) {
    Ending ending = WaitFor(pid);
    ASSERT_TRUE(ending.exited) << "signal " << ending.signal;
    // A copy that starts after the input is gone finds none; one that finds the input claimed
    // by a copy at work leaves the folder to it.
    EXPECT_TRUE(ending.code == ExitStatus(RunOutcome::kOk) ||
                ending.code == ExitStatus(RunOutcome::kInputMissing) ||
                ending.code == ExitStatus(RunOutcome::kBusy))
        << ending.code;
    converted += ending.code == ExitStatus(RunOutcome::kOk);
  }
  const long bad_reads = watcher.Stop();
  ASSERT_EQ(copies.size(), 20u);
  EXPECT_GE(converted, 2) << "the copies did not overlap: the test proved nothing";
  EXPECT_EQ(bad_reads, 0) << "the result file was missing or neither old nor new";
  EXPECT_EQ(home.Result(), result);
  EXPECT_FALSE(home.InputExists());
  EXPECT_FALSE(home.PendingResultExists());
  std::printf(
      "20 copies without the lock: %d converted, the rest found no input or a copy at work\n",
      converted);
}

// A calling program that writes its file in two goes, holding it open in between. Nothing of it
// is converted before it is complete, whether or not the file system grants read leases.
TEST(ConcurrencyTest, AFileStillBeingWrittenIsNeverConvertedInPart) {
  for (const bool leases : {true, false}) {
    SCOPED_TRACE(leases ? "with read leases" : "without read leases");
    DropHome home;
    home.MakeDropFolder();
    home.DropInput("");
    const int writer = ::open(home.folders().InputFile().c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(writer, 0);
    const auto write = [writer](const std::string& bytes) {
      ASSERT_EQ(::write(writer, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    };
    write("1\n11\n10");
    std::vector<std::string> env = {std::string("LD_PRELOAD=") + QUORVANE_FAIL_IO};
    const std::string read_started = home.home() + "/read-started";
    if (!leases) {
      // Without a lease only a change during the read can be seen: the writer writes while the
      // run is reading.
      env.insert(env.end(),
                 {"QUORVANE_FAIL_LEASE=1", "QUORVANE_SLOW_READ=/Bintake.tbin",
                  "QUORVANE_SLOW_READ_MS=1000", "QUORVANE_SLOW_READ_STARTED=" + read_started});
    }
    pid_t pid =
        Spawn({QuorvaneExecutable(), {}, home.Environment(env), "/dev/null", home.ErrorLog()});
    ASSERT_GT(pid, 0);
    for (int waited = 0; !leases && !fs::exists(read_started) && waited < 20'000; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    write("11\n111\n");
    Ending early = WaitFor(pid);
    EXPECT_EQ(early.code, ExitStatus(RunOutcome::kInputUnreadable)) << home.ReadErrorLog();
    EXPECT_EQ(ReadFile(home.folders().InputFile()), "1\n11\n1011\n111\n");
    EXPECT_EQ(home.Result(), std::nullopt);

    ::close(writer);
    Ending done = RunQuorvane(home.Environment(), home.ErrorLog());
    EXPECT_EQ(done.code, ExitStatus(RunOutcome::kOk));
    EXPECT_EQ(home.Result(), "1\r\n3\r\n11\r\n7\r\n");
    EXPECT_FALSE(home.InputExists());
  }
}

// A copy that can take no lock at all still never takes up the claim of a copy at work: the
// claim is held by the copy that made it, and the late copy leaves the folder to it.
TEST(ConcurrencyTest, ACopyWithoutTheLockLeavesAClaimAtWorkAlone) {
  DropHome home;
  home.MakeDropFolder();
  home.DropInput("101\r\n");
  const std::string fail_io = std::string("LD_PRELOAD=") + QUORVANE_FAIL_IO;
  const std::string paused = home.home() + "/claimed";
  const pid_t first = Spawn({QuorvaneExecutable(),
                             {"--batch"},
                             home.Environment({fail_io, "QUORVANE_PAUSE_AFTER_CLAIM_MS=1500",
                                               "QUORVANE_PAUSED=" + paused}),
                             "/dev/null",
                             "/dev/null"});
  ASSERT_GT(first, 0);
  for (int waited = 0; !fs::exists(paused) && waited < 20'000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(fs::exists(paused));
  Ending late = WaitFor(Spawn({QuorvaneExecutable(),
                               {"--batch"},
                               home.Environment({fail_io, "QUORVANE_FAIL_FOLDER_LOCK=1"}),
                               "/dev/null",
                               home.ErrorLog()}));
  EXPECT_EQ(late.code, ExitStatus(RunOutcome::kBusy)) << home.ReadErrorLog();
  Ending done = WaitFor(first);
  EXPECT_EQ(done.code, ExitStatus(RunOutcome::kOk));
  EXPECT_EQ(home.Result(), "5\r\n");
  EXPECT_FALSE(home.InputExists());
  for (const auto& entry : fs::directory_iterator(home.folders().auto_file)) {
    ADD_FAILURE() << "left in the drop folder: " << entry.path();
  }
}

TEST(ConcurrencyTest, ManyCopiesAtOnceStillConvertOnce) {
  DropHome home;
  home.MakeDropFolder();
  home.DropInput("101\r\n11\r\n");
  std::vector<pid_t> copies = StartTogether(home.Environment(), 6);
  ASSERT_EQ(copies.size(), 6u);
  int completed = 0;
  for (pid_t pid : copies) {
    Ending ending = WaitFor(pid);
    ASSERT_TRUE(ending.exited);
    // A copy that starts after the work is done finds the drop folder without an input file.
    EXPECT_TRUE(ending.code == ExitStatus(RunOutcome::kOk) ||
                ending.code == ExitStatus(RunOutcome::kBusy) ||
                ending.code == ExitStatus(RunOutcome::kInputMissing))
        << ending.code;
    if (ending.code == ExitStatus(RunOutcome::kOk)) ++completed;
  }
  EXPECT_EQ(completed, 1);
  EXPECT_EQ(home.Result(), "5\r\n3\r\n");
  EXPECT_FALSE(home.InputExists());
}

}  // namespace
}  // namespace quorvane::testing
