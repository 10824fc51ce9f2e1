// The batch engine against a plain reading of the rules: only "0", "1", CR and LF are allowed;
// split at LF, drop CR, skip empty lines, refuse the whole text when any line has more than
// kMaxLineDigits digits, otherwise each line's value in decimal followed by CR LF. Also shifted
// against the eight-byte words the engine reads, which must not change the outcome.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "automation/batch.h"
#include "convert/limits.h"
#include "fuzz/fuzz_check.h"

namespace {

struct Expected {
  bool refused = false;
  uint64_t lines = 0;
  std::string result;
};

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view raw(reinterpret_cast<const char*>(data), size);

  // The byte check, on the whole input and on the text after the first byte (which below chooses
  // the shift), so that seeds can put a stray byte anywhere in a word.
  for (std::string_view bytes : {raw, raw.substr(1)}) {
    bool batch_bytes = true;
    // Zero bytes at the very end end the text; anywhere else they are not binary.
    for (char c : bytes.substr(0, bytes.find_last_not_of('\0') + 1))
      batch_bytes = batch_bytes && (c == '0' || c == '1' || c == '\r' || c == '\n');
    FUZZ_CHECK(quorvane::ConvertBatch(bytes).not_binary == !batch_bytes);
  }

  // Other bytes are folded onto the four the engine takes, so that the conversion is tried on
  // every input; the first byte chooses how far the text is shifted.
  std::string text(raw.substr(1));
  for (char& c : text) {
    if (c != '0' && c != '1' && c != '\r' && c != '\n') c = "01\r\n"[static_cast<uint8_t>(c) % 4];
  }
  const Expected expected = Evaluate(text);

  const quorvane::BatchOutcome whole = quorvane::ConvertBatch(text);
  FUZZ_CHECK(!whole.not_binary);
  FUZZ_CHECK(whole.line_too_long == expected.refused);
  FUZZ_CHECK(whole.line_count == expected.lines);
  FUZZ_CHECK(whole.result == expected.result);

  const std::string shifted = std::string(1 + static_cast<uint8_t>(raw[0]) % 8, '\n') + text;
  const quorvane::BatchOutcome moved = quorvane::ConvertBatch(shifted);
  FUZZ_CHECK(moved.line_too_long == whole.line_too_long);
  FUZZ_CHECK(moved.line_count == whole.line_count);
  FUZZ_CHECK(moved.result == whole.result);

  // Line breaks at the end never change a result.
  const std::string_view trimmed = quorvane::TrimTrailingBreaks(text);
  std::string_view by_hand = text;
  while (!by_hand.empty() && (by_hand.back() == '\r' || by_hand.back() == '\n')) {
    by_hand.remove_suffix(1);
  }
  FUZZ_CHECK(trimmed == by_hand);
  FUZZ_CHECK(quorvane::ConvertBatch(trimmed).result == whole.result);

  // The same text in parts (their size chosen by the first byte) gives the same digits, up to the
  // first line over kMaxLineDigits digits.
  quorvane::BatchStream stream("\r\n");
  std::string streamed;
  const size_t part_size = 1 + static_cast<uint8_t>(raw[0]) % 13;
  for (size_t at = 0; at < text.size(); at += part_size) {
    const std::string_view part = std::string_view(text).substr(at, part_size);
    std::string buffer(quorvane::BatchStream::OutputBound(part.size()), '\0');
    streamed.append(buffer.data(), stream.Feed(part, buffer.data()));
  }
  char last[quorvane::BatchStream::OutputBound(0)];
  streamed.append(last, stream.Finish(last));
  FUZZ_CHECK((stream.fault() == quorvane::BatchStream::Fault::kLineTooLong) == expected.refused);
  if (!expected.refused) FUZZ_CHECK(streamed == whole.result);
  return 0;
}
