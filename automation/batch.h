#pragma once

#include <cstdint>
#include <string_view>

#include "storage/file_buffer.h"

namespace quorvane {

// The text without the CR and LF characters at its very end.
[[nodiscard]] std::string_view TrimTrailingBreaks(std::string_view text);

// A batch text checked, split into lines and converted, in one pass over its bytes.
struct BatchOutcome {
  bool not_binary = false;     // a byte other than "0", "1", CR and LF (see ConvertBatch for NULs)
  bool line_too_long = false;  // some line had more than kMaxLineDigits digits: refuse the file
  uint64_t line_count = 0;     // non-empty lines
  std::string_view result;     // each line's decimal value followed by CR LF; empty when refused
  FileBuffer storage;          // holds `result`
};

// Every LF ends a line; CR is ignored wherever it stands, so "10\r1" is the one line 101. Empty
// lines are skipped. Zero bytes that only trail the text end it, as a reader of C strings sees
// them (a writer that pads its file loses nothing); a zero byte with anything after it is not
// binary, since what follows it would otherwise be dropped unseen. The result only counts when the
// text is neither refused nor not binary.
[[nodiscard]] BatchOutcome ConvertBatch(std::string_view text);

// The same conversion for a text that arrives in parts and may be of any length, as a pipe
// delivers it: each line's decimal is written as soon as its line ends, and the first fault stops
// the text there, so nothing is written for the faulty line or after it.
class BatchStream {
 public:
  enum class Fault {
    kNone,
    kNotBinary,    // a byte other than "0", "1", CR and LF (zero bytes as in ConvertBatch)
    kLineTooLong,  // a line of more than kMaxLineDigits digits
  };

  // `line_end` follows each decimal: "\n", or "\r\n" where that is the system's convention.
  explicit BatchStream(std::string_view line_end) : crlf_(line_end == "\r\n") {}

  // The most that Feed writes for a part of `part_size` bytes, and Finish for none.
  static constexpr size_t OutputBound(size_t part_size) { return part_size + part_size / 2 + 12; }

  // Takes the next part of the text and writes, at `out`, the decimals of the lines it ends.
  // Returns the end of what was written; after a fault, writes nothing more.
  char* Feed(std::string_view part, char* out);
  // The end of the text, whose last line needs no line end.
  char* Finish(char* out);

  Fault fault() const { return fault_; }
  // The number, from 1, of the line where the fault is; every LF starts a new line.
  uint64_t fault_line() const { return line_; }

 private:
  char* TakeOther(char byte, const char* rest, const char* end, char* out);
  char* EndLine(char* out);
  void TakeDigits(uint64_t bits, unsigned count);

  bool crlf_;
  Fault fault_ = Fault::kNone;
  bool zero_seen_ = false;  // the text ended at a zero byte: only more zero bytes may follow
  uint64_t value_ = 0;
  uint64_t digits_ = 0;
  uint64_t line_ = 1;
};

}  // namespace quorvane
