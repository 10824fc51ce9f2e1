#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

#include "convert/limits.h"

namespace quorvane {

// Lines of binary digits to lines of decimals, 64 bytes at a time, for a drop file and for a
// stream alike. Every LF ends a line; CR is ignored wherever it stands, so "10\r1" is the one line
// 101; empty lines are skipped. Zero bytes that only trail the text end it, as a reader of C
// strings sees them (a writer that pads its file loses nothing); a zero byte with anything after
// it is not binary, since what follows it would otherwise be dropped unseen.
//
// A text may arrive in parts of any size, as a pipe delivers it: each line's decimal is written
// as soon as its line ends, and the first fault stops the text there, so nothing is written for
// the faulty line or after it.
class LineConverter {
 public:
  enum class Fault {
    kNone,
    kNotBinary,    // a byte other than "0", "1", CR and LF (zero bytes as above)
    kLineTooLong,  // a line of more than kMaxLineDigits digits
  };

  // What a line of more than kMaxLineDigits digits does.
  enum class LongLines {
    kStop,  // the text stops there, as at any fault: what came before it stands
    // The whole text is refused, and nothing more is written; the rest is still checked, and a
    // byte that is not binary anywhere in it is the fault then.
    kRefuseText,
  };

  // The ways the work is done; each gives the same bytes and the same faults for every text.
  enum class Path {
    kPortable,  // plain C++, eight bytes at a time: any machine
    kAvx2,      // x86-64 with AVX2, BMI2 and POPCNT
  };
  static constexpr Path kPaths[] = {Path::kPortable, Path::kAvx2};

  // Whether this machine runs `path`.
  [[nodiscard]] static bool Supported(Path path);
  // The fastest path this machine runs; QUORVANE_CONVERTER=portable or =avx2 in the environment
  // asks for another one, which is taken where the machine runs it.
  [[nodiscard]] static Path DefaultPath();
  [[nodiscard]] static std::string_view Name(Path path);

  // `line_end` follows each decimal: "\n", or "\r\n" where that is the convention; with none
  // ("") nothing is written and the text is only checked. A path the machine does not run is
  // replaced by the portable one.
  explicit LineConverter(std::string_view line_end, LongLines long_lines = LongLines::kStop,
                         Path path = DefaultPath());

  // The room that Feed needs at `out` for a part of `part_size` bytes, and Finish for none. Each
  // line written takes at most one and a half times the bytes it was read from ("1" LF gives
  // "1" CR LF), a line begun in an earlier part or left without a line end at most ten digits and
  // a line end; beyond what it writes, a line may scribble up to 16 bytes further.
  static constexpr size_t OutputBound(size_t part_size) { return part_size + part_size / 2 + 32; }

  // Takes the next part of the text and writes, at `out`, the decimals of the lines it ends.
  // Returns the end of what was written; after a fault, writes nothing more.
  char* Feed(std::string_view part, char* out);
  // The end of the text, whose last line needs no line end.
  char* Finish(char* out);

  [[nodiscard]] Fault fault() const {
    return state_.refused && state_.fault == Fault::kNone ? Fault::kLineTooLong : state_.fault;
  }
  // The number, from 1, of the line where the fault is; every LF starts a new line.
  [[nodiscard]] uint64_t fault_line() const {
    return state_.refused && state_.fault == Fault::kNone ? state_.refused_line : state_.line;
  }
  // The lines written so far: every LF ends a line, and only empty ones are not written.
  [[nodiscard]] uint64_t line_count() const {
    return state_.line - 1 - state_.empty_lines + (state_.last_line_written ? 1 : 0);
  }
  [[nodiscard]] Path path() const { return path_; }

  // Where the text stands between parts. The scan of each path, a function of its own compiled
  // for its target, takes it whole and gives it back.
  struct State {
    uint64_t value = 0;   // the digits of the line being read
    uint64_t digits = 0;  // how many
    uint64_t line = 1;    // its number, from 1
    uint64_t empty_lines = 0;
    bool last_line_written = false;  // a last line without a line end
    bool crlf = false;               // lines end with CR LF, else with LF
    bool stop_at_long_line = true;
    bool refused = false;       // a long line refused the text: the rest is only checked
    uint64_t refused_line = 0;  // the number of that line
    bool zero_seen = false;     // the text ended at a zero byte: only more zero bytes may follow
    bool check_only = false;    // nothing is written
    Fault fault = Fault::kNone;
  };

 private:
  State state_;
  Path path_;
  char* (*scan_)(State& state, const char* at, const char* end, char* out);
};

// A whole text, such as a drop file, converted as a calling program reads it: each line's decimal
// followed by CR LF, handed to `take` a part at a time (each at most
// LineConverter::OutputBound(kTextPart) bytes), never held whole: a drop file's result goes to its
// file through one small buffer whose pages stay warm, where a whole result's fresh pages cost
// more than converting it. A single line of more than kMaxLineDigits digits refuses the whole
// text; a byte that is not binary anywhere refuses it as well, and is what counts when both
// happen. The verdict comes at the end, so `take` may have had parts of a text that is refused
// after all: whoever keeps them throws them away then.
struct LinesVerdict {
  bool not_binary = false;
  bool line_too_long = false;
  uint64_t fault_line = 0;  // when refused: the number, from 1, of the line that refused it
  uint64_t line_count = 0;  // non-empty lines, when not refused
  bool operator==(const LinesVerdict&) const = default;
};
inline constexpr size_t kTextPart = 32 * 1024;
LinesVerdict ConvertLinesInParts(std::string_view text,
                                 const std::function<void(std::string_view)>& take,
                                 LineConverter::Path path = LineConverter::DefaultPath());

// The verdict that ConvertLinesInParts gives `text`, with nothing converted: a drop file is checked
// whole before any of its result is written, and checking costs less than converting.
LinesVerdict CheckLines(std::string_view text,
                        LineConverter::Path path = LineConverter::DefaultPath());

// The text without the CR and LF characters at its very end.
[[nodiscard]] std::string_view TrimTrailingBreaks(std::string_view text);

}  // namespace quorvane
