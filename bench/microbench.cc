// Microbenchmarks of the line converter and of a whole automatic run without the process around
// it. Every benchmark works on the same input as compare.sh (bench_input.h), made in memory once.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "automation/progress.h"
#include "bench/bench_input.h"
#include "convert/binary_to_decimal.h"
#include "convert/line_converter.h"
#include "platform/headless/headless_view.h"
#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "tests/support/convert_text.h"
#include "tests/support/delete_tree.h"
#include "tests/support/memory_file_system.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

namespace quorvane::bench {
namespace {

const std::string& Input() {
  static const std::string input = MakeBenchInput();
  return input;
}

// The non-empty lines of the input, without their line ends.
const std::vector<std::string_view>& InputLines() {
  static const std::vector<std::string_view> lines = [] {
    std::vector<std::string_view> out;
    std::string_view text = Input();
    while (!text.empty()) {
      size_t end = text.find("\r\n");
      if (end > 0) out.push_back(text.substr(0, end));
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 2);
    }
    return out;
  }();
  return lines;
}

// What the result file must hold, worked out apart from the code under measurement.
const std::string& ExpectedResult() {
  static const std::string expected = [] {
    std::string out;
    for (std::string_view line : InputLines()) {
      out += std::to_string(std::stoul(std::string(line), nullptr, 2));
      out += "\r\n";
    }
    return out;
  }();
  return expected;
}

// Every benchmark also reports the fastest repetition (with --benchmark_repetitions): on a shared
// machine the median moves with the load of others, the minimum much less.
double MinOf(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

void Configure(benchmark::internal::Benchmark* benchmark) {
  benchmark->Unit(benchmark::kMicrosecond)->ComputeStatistics("min", MinOf);
}

void SetBytes(benchmark::State& state, size_t bytes_per_iteration) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes_per_iteration));
}

// The converter path given by the benchmark's argument (the index in LineConverter::kPaths);
// false, with the benchmark marked, when this machine does not run it.
bool TakePath(benchmark::State& state, LineConverter::Path& path) {
  path = LineConverter::kPaths[state.range(0)];
  state.SetLabel(std::string(LineConverter::Name(path)));
  if (LineConverter::Supported(path)) return true;
  state.SkipWithError("this machine does not run this path");
  return false;
}

void PerPath(benchmark::internal::Benchmark* benchmark) {
  for (size_t path = 0; path < std::size(LineConverter::kPaths); ++path) {
    benchmark->Arg(static_cast<int64_t>(path));
  }
  Configure(benchmark);
}

// Checking, splitting and converting the whole input as a drop-folder run does, each part of the
// result handed on as it is made (here only counted).
void BM_ConvertLinesInParts(benchmark::State& state) {
  LineConverter::Path path;
  if (!TakePath(state, path)) return;
  const std::string& input = Input();
  for (auto _ : state) {
    size_t size = 0;
    const LinesVerdict verdict = ConvertLinesInParts(
        input,
        [&size](std::string_view part) {
          benchmark::DoNotOptimize(part.data());
          size += part.size();
        },
        path);
    if (size != ExpectedResult().size() || verdict.line_count != InputLines().size()) {
      state.SkipWithError("wrong result");
    }
  }
  if (testing::ConvertText(input, path).result != ExpectedResult()) {
    state.SkipWithError("wrong result");
  }
  SetBytes(state, input.size());
  state.counters["lines"] = static_cast<double>(InputLines().size());
}
BENCHMARK(BM_ConvertLinesInParts)->Apply(PerPath);

// The check that a drop-folder run makes of the whole input before it converts any of it.
void BM_CheckLines(benchmark::State& state) {
  LineConverter::Path path;
  if (!TakePath(state, path)) return;
  const std::string& input = Input();
  for (auto _ : state) {
    const LinesVerdict verdict = CheckLines(input, path);
    if (verdict.line_count != InputLines().size() || verdict.not_binary) {
      state.SkipWithError("wrong verdict");
    }
  }
  SetBytes(state, input.size());
}
BENCHMARK(BM_CheckLines)->Apply(PerPath);

// The same input as --convert takes it: in parts of 128 KiB, into one output buffer that is
// reused, as standard output would take it.
void BM_LineConverterStream(benchmark::State& state) {
  LineConverter::Path path;
  if (!TakePath(state, path)) return;
  const std::string_view input = Input();
  constexpr size_t kPart = 128 * 1024;
  std::vector<char> output(LineConverter::OutputBound(kPart));
  size_t written = 0;
  for (auto _ : state) {
    LineConverter converter("\n", LineConverter::LongLines::kStop, path);
    written = 0;
    for (size_t at = 0; at < input.size(); at += kPart) {
      written += static_cast<size_t>(converter.Feed(input.substr(at, kPart), output.data()) -
                                     output.data());
    }
    written += static_cast<size_t>(converter.Finish(output.data()) - output.data());
    benchmark::DoNotOptimize(output.data());
  }
  // "\n" where the result has CR LF: one byte less for every line.
  if (written != ExpectedResult().size() - InputLines().size()) state.SkipWithError("wrong size");
  SetBytes(state, input.size());
}
BENCHMARK(BM_LineConverterStream)->Apply(PerPath);

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// The progress schedule of splitting the input: the steps a run actually takes.
void BM_ProgressThrottleSchedule(benchmark::State& state) {
  const uint64_t n = Input().size();
  const uint64_t total = 3 * (n + 1);
  uint64_t shown = 0;
  for (auto _ : state) {
    ProgressThrottle throttle(total);
    shown = 0;
    for (uint64_t i = 0; i < n;) {
      const uint64_t due = std::clamp<uint64_t>(throttle.next_due(), i, n);
      if (due == n) break;
      if (throttle.Take(due, SteadyMs())) ++shown;
      i = due + 1;
    }
    benchmark::DoNotOptimize(shown);
  }
  state.counters["shown"] = static_cast<double>(shown);
}
BENCHMARK(BM_ProgressThrottleSchedule)->Apply(Configure);

// Take at every position, as a caller that does not look at next_due would call it.
void BM_ProgressThrottleEveryPosition(benchmark::State& state) {
  const uint64_t n = Input().size();
  const uint64_t total = 3 * (n + 1);
  for (auto _ : state) {
    ProgressThrottle throttle(total);
    uint64_t shown = 0;
    for (uint64_t i = 0; i < n; ++i) shown += throttle.Take(i, i);
    benchmark::DoNotOptimize(shown);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * n));
}
BENCHMARK(BM_ProgressThrottleEveryPosition)->Apply(Configure);

void BM_ProgressLabel(benchmark::State& state) {
  int percent = 0;
  for (auto _ : state) {
    std::string text = ProgressLabel(percent);
    benchmark::DoNotOptimize(text.data());
    percent = (percent + 1) % 101;
  }
}
BENCHMARK(BM_ProgressLabel)->ComputeStatistics("min", MinOf);

// BinaryToDecimal over every line of the input, one call per line.
void BM_BinaryToDecimal(benchmark::State& state) {
  const std::vector<std::string_view>& lines = InputLines();
  for (auto _ : state) {
    for (std::string_view line : lines) {
      std::string decimal = BinaryToDecimal(line);
      benchmark::DoNotOptimize(decimal.data());
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * lines.size()));
}
BENCHMARK(BM_BinaryToDecimal)->Apply(Configure);

// A RAM-backed folder for benchmarks on the real file system (QUORVANE_BENCH_DIR, /dev/shm by
// default), so that system calls count but the disk does not; empty when it cannot be made.
std::string MakeBenchFolder() {
  const char* parent = std::getenv("QUORVANE_BENCH_DIR");
  std::string root = std::string(parent != nullptr ? parent : "/dev/shm") + "/quorvane-XXXXXX";
  return ::mkdtemp(root.data()) != nullptr ? root : std::string();
}

// ReadWholeFile of an input file of the given size (a prefix of the benchmark input).
void BM_ReadWholeFile(benchmark::State& state) {
  const std::string root = MakeBenchFolder();
  if (root.empty()) {
    state.SkipWithError("cannot make a folder in the bench directory");
    return;
  }
  FileSystem& files = RealFileSystem();
  const std::string path = root + "/Bintake.tbin";
  const std::string_view input = std::string_view(Input()).substr(0, state.range(0));
  if (!ReplaceFileSafely(files, path, input)) state.SkipWithError("cannot write the input file");
  for (auto _ : state) {
    FileContents contents = ReadWholeFile(files, path);
    benchmark::DoNotOptimize(contents.bytes.data());
    if (contents.bytes.size() != input.size()) state.SkipWithError("short read");
  }
  SetBytes(state, input.size());
  testing::DeleteTree(files, root);
}
BENCHMARK(BM_ReadWholeFile)->Arg(2000)->Arg(kBenchInputSize)->Apply(Configure);

// One automatic start of the dialog (folders, settings, checks, RunBatch) through the headless
// view, on the given file system with the documents folder `documents`; the input file is put in
// place by `restore` before each run, outside the measured time.
template <typename Restore>
void RunAutomatic(benchmark::State& state, FileSystem& files, const std::string& documents,
                  Restore restore) {
  const FolderTree folders(documents);
  for (auto _ : state) {
    state.PauseTiming();
    restore(folders.InputFile());
    state.ResumeTiming();

    DialogEnvironment environment;
    environment.files = &files;
    environment.documents_folder = [&documents] { return documents; };
    CQuorvaneDlg dialog(std::move(environment));
    HeadlessView view;
    view.SetMessageHandler([&state](std::string_view text, MessageIcon) {
      state.SkipWithError(std::string(text).c_str());
    });
    dialog.AttachView(view);
    dialog.OnInitDialog();
    if (dialog.outcome() != RunOutcome::kOk) state.SkipWithError("the run did not complete");
  }
  if (ReadWholeFile(files, folders.ResultFile()).bytes != ExpectedResult()) {
    state.SkipWithError("wrong result file");
  }
  SetBytes(state, Input().size());
}

void BM_AutomaticRunInMemory(benchmark::State& state) {
  testing::MemoryFileSystem files;
  const FolderTree folders("/memory/Documents");
  for (const std::string* folder : {&folders.documents, &folders.maker, &folders.data_root,
                                    &folders.result, &folders.temp, &folders.auto_file}) {
    files.PutDirectory(*folder);
  }
  RunAutomatic(state, files, folders.documents,
               [&files](const std::string& path) { files.PutFile(path, Input()); });
}
BENCHMARK(BM_AutomaticRunInMemory)->Apply(Configure);

// The same on the real file system in a RAM-backed folder (see MakeBenchFolder).
void BM_AutomaticRunTmpfs(benchmark::State& state) {
  const std::string root = MakeBenchFolder();
  if (root.empty()) {
    state.SkipWithError("cannot make a folder in the bench directory");
    return;
  }
  FileSystem& files = RealFileSystem();
  const FolderTree folders(root + "/Documents");
  for (const std::string* folder : {&folders.documents, &folders.maker, &folders.data_root,
                                    &folders.result, &folders.temp, &folders.auto_file}) {
    files.MakeDirectory(*folder);
  }
  RunAutomatic(state, files, folders.documents, [&files](const std::string& path) {
    if (!ReplaceFileSafely(files, path, Input())) std::abort();
  });
  testing::DeleteTree(files, root);
}
BENCHMARK(BM_AutomaticRunTmpfs)->Apply(Configure);

}  // namespace
}  // namespace quorvane::bench

BENCHMARK_MAIN();
