#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace quorvane {

// True when the input file's bytes may go to a batch run: nothing but "0", "1", CR and LF. A zero
// byte fails like any other byte.
bool IsBatchText(std::string_view bytes);

// The text without the CR and LF characters at its very end.
std::string_view TrimTrailingBreaks(std::string_view text);

// Splits a batch text into lines and converts them, in pieces of any size. Every LF ends a line;
// CR is ignored wherever it stands, so "10\r1" is the one line 101. Empty lines are skipped. Each
// line is converted as it ends, so no line is ever copied; the results only count once Finish has
// found that no line was too long.
class BatchConverter {
 public:
  // Makes room for the results of an input of `input_size` bytes at once, so that a large
  // result is never copied while it grows. Untouched room costs no memory.
  void Reserve(size_t input_size);
  void Feed(std::string_view bytes);

  struct Outcome {
    bool line_too_long = false;  // some line had more than kMaxLineDigits digits: refuse the file
    uint64_t line_count = 0;     // non-empty lines
    std::string_view result;     // each line's decimal value followed by CR LF
    std::unique_ptr<char[]> storage;  // holds `result`
  };
  // Ends the last line and hands over what was converted.
  Outcome Finish();

 private:
  void EndLine();
  void Grow(size_t at_least);

  uint32_t value_ = 0;
  uint64_t digits_ = 0;
  Outcome outcome_;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// The whole conversion of a batch text at once.
BatchConverter::Outcome ConvertBatch(std::string_view text);

}  // namespace quorvane
