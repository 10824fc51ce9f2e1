// The line converter against a plain reading of the rules, on every path this machine runs, and
// each path against the others: only "0", "1", CR and LF are allowed, zero bytes that only trail
// the text end it; split at LF, drop CR, skip empty lines; a whole text is refused when any line
// has more than kMaxLineDigits digits, a stream stops at its first fault and names its line. Also
// shifted against the 64-byte blocks the converter reads, and fed in parts of every size, neither
// of which may change anything. The check made before converting agrees with the conversion.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/limits.h"
#include "convert/line_converter.h"
#include "fuzz/fuzz_check.h"
#include "tests/support/convert_text.h"

namespace {

using quorvane::LineConverter;
using Fault = LineConverter::Fault;

struct Expected {
  bool refused = false;
  uint64_t lines = 0;
  std::string result;
};

// A whole text of "0", "1", CR and LF.
Expected Evaluate(std::string_view text) {
  Expected expected;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(start, end - start));
    std::erase(line, '\r');
    start = end + 1;
    if (line.empty()) continue;
    ++expected.lines;
    if (line.size() > quorvane::kMaxLineDigits) {
      expected.refused = true;
      continue;
    }
    expected.result += std::to_string(std::stoull(line, nullptr, 2)) + "\r\n";
  }
  if (expected.refused) expected.result.clear();
  return expected;
}

struct Streamed {
  std::string output;
  Fault fault = Fault::kNone;
  uint64_t fault_line = 0;
};

// Any bytes as a stream, a byte at a time.
Streamed EvaluateStream(std::string_view bytes, std::string_view line_end) {
  Streamed streamed;
  uint64_t line = 1;
  std::string digits;
  auto end_line = [&] {
    if (!digits.empty()) {
      streamed.output += std::to_string(std::stoull(digits, nullptr, 2));
      streamed.output += line_end;
    }
    digits.clear();
  };
  for (size_t at = 0; at < bytes.size(); ++at) {
    const char byte = bytes[at];
    if (byte == '0' || byte == '1') {
      digits += byte;
      if (digits.size() > quorvane::kMaxLineDigits) {
        streamed.fault = Fault::kLineTooLong;
        break;
      }
    } else if (byte == '\n') {
      end_line();
      ++line;
    } else if (byte == '\0' && bytes.find_first_not_of('\0', at) == std::string_view::npos) {
      break;
    } else if (byte != '\r') {
      streamed.fault = Fault::kNotBinary;
      break;
    }
  }
  if (streamed.fault == Fault::kNone) {
    end_line();
  } else {
    streamed.fault_line = line;
  }
  return streamed;
}

Streamed Stream(std::string_view bytes, size_t part_size, std::string_view line_end,
                LineConverter::Path path) {
  LineConverter converter(line_end, LineConverter::LongLines::kStop, path);
  FUZZ_CHECK(converter.path() == path);
  Streamed streamed;
  for (size_t at = 0; at < bytes.size(); at += part_size) {
    const std::string_view part = bytes.substr(at, part_size);
    // On the heap and exactly as large as the bound, so that a sanitizer sees any write past it.
    const auto buffer = std::make_unique<char[]>(LineConverter::OutputBound(part.size()));
    streamed.output.append(buffer.get(), converter.Feed(part, buffer.get()));
  }
  const auto last = std::make_unique<char[]>(LineConverter::OutputBound(0));
  streamed.output.append(last.get(), converter.Finish(last.get()));
  streamed.fault = converter.fault();
  if (streamed.fault != Fault::kNone) streamed.fault_line = converter.fault_line();
  return streamed;
}

const std::vector<LineConverter::Path>& Paths() {
  static const std::vector<LineConverter::Path> paths = [] {
    std::vector<LineConverter::Path> supported;
    for (LineConverter::Path path : LineConverter::kPaths) {
      if (LineConverter::Supported(path)) {
        supported.push_back(path);
      } else {
        std::fprintf(
            stderr,
            "line_converter_fuzzer: the %s path is NOT fuzzed: this machine does not run it\n",
            std::string(LineConverter::Name(path)).c_str());
      }
    }
    return supported;
  }();
  return paths;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);
  // The first byte chooses the shift and the part size; the rest is the text.
  const auto choice = static_cast<uint8_t>(raw[0]);
  const std::string_view bytes = raw.substr(1);

  // Other bytes are folded onto the four the converter takes, so that the conversion is tried on
  // every input.
  std::string text(bytes);
  for (char& c : text) {
    if (c != '0' && c != '1' && c != '\r' && c != '\n') c = "01\r\n"[static_cast<uint8_t>(c) % 4];
  }
  const Expected expected = Evaluate(text);
  const std::string shifted = std::string(1 + choice % 64, '\n') + text;
  const size_t part_size = 1 + choice % 131;

  for (LineConverter::Path path : Paths()) {
    // The byte check, on the whole input and on the text after the first byte, so that seeds can
    // put a stray byte anywhere in a block.
    for (std::string_view checked : {raw, bytes}) {
      bool allowed = true;
      // Zero bytes at the very end end the text; anywhere else they are not binary.
      for (char c : checked.substr(0, checked.find_last_not_of('\0') + 1))
        allowed = allowed && (c == '0' || c == '1' || c == '\r' || c == '\n');
      const quorvane::testing::ConvertedText converted =
          quorvane::testing::ConvertText(checked, path);
      FUZZ_CHECK(converted.not_binary == !allowed);
      // The check a run makes before converting gives the conversion's own verdict.
      FUZZ_CHECK(converted.checked == converted.verdict());
    }

    const quorvane::testing::ConvertedText whole = quorvane::testing::ConvertText(text, path);
    FUZZ_CHECK(!whole.not_binary);
    FUZZ_CHECK(whole.line_too_long == expected.refused);
    FUZZ_CHECK(whole.result == expected.result);
    if (!expected.refused) FUZZ_CHECK(whole.line_count == expected.lines);
    FUZZ_CHECK(whole.checked == whole.verdict());

    const quorvane::testing::ConvertedText moved = quorvane::testing::ConvertText(shifted, path);
    FUZZ_CHECK(moved.line_too_long == whole.line_too_long);
    FUZZ_CHECK(moved.line_count == whole.line_count);
    FUZZ_CHECK(moved.result == whole.result);
    FUZZ_CHECK(moved.checked == moved.verdict());

    // Line breaks at the end never change a result.
    FUZZ_CHECK(quorvane::testing::ConvertText(quorvane::TrimTrailingBreaks(text), path).result ==
               whole.result);

    // The raw bytes as a stream, in parts: the same lines, faults and fault lines as a reading
    // byte by byte.
    for (std::string_view line_end : {"\n", "\r\n"}) {
      const Streamed want = EvaluateStream(bytes, line_end);
      const Streamed got = Stream(bytes, part_size, line_end, path);
      FUZZ_CHECK(got.fault == want.fault);
      FUZZ_CHECK(got.fault_line == want.fault_line);
      FUZZ_CHECK(got.output == want.output);
    }
    const Streamed folded = Stream(text, part_size, "\r\n", path);
    FUZZ_CHECK((folded.fault == Fault::kLineTooLong) == expected.refused);
    if (!expected.refused) FUZZ_CHECK(folded.output == whole.result);
  }

  // Every path against the first, on the raw bytes: the same outcome to the byte.
  const std::vector<LineConverter::Path>& paths = Paths();
  const quorvane::testing::ConvertedText first =
      quorvane::testing::ConvertText(bytes, paths.front());
  for (size_t other = 1; other < paths.size(); ++other) {
    const quorvane::testing::ConvertedText next =
        quorvane::testing::ConvertText(bytes, paths[other]);
    FUZZ_CHECK(next.not_binary == first.not_binary);
    FUZZ_CHECK(next.line_too_long == first.line_too_long);
    FUZZ_CHECK(next.line_count == first.line_count);
    FUZZ_CHECK(next.result == first.result);
  }
  return 0;
}
