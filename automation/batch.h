#pragma once

#include <cstdint>
#include <string_view>

#include "storage/file_buffer.h"

namespace quorvane {

// The text without the CR and LF characters at its very end.
[[nodiscard]] std::string_view TrimTrailingBreaks(std::string_view text);

// A batch text checked, split into lines and converted, in one pass over its bytes.
struct BatchOutcome {
  bool not_binary = false;     // a byte other than "0", "1", CR and LF (a zero byte included)
  bool line_too_long = false;  // some line had more than kMaxLineDigits digits: refuse the file
  uint64_t line_count = 0;     // non-empty lines
  std::string_view result;     // each line's decimal value followed by CR LF; empty when refused
  FileBuffer storage;          // holds `result`
};

// Every LF ends a line; CR is ignored wherever it stands, so "10\r1" is the one line 101. Empty
// lines are skipped. The result only counts when the text is neither refused nor not binary.
[[nodiscard]] BatchOutcome ConvertBatch(std::string_view text);

}  // namespace quorvane
