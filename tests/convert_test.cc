#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "convert/binary_to_decimal.h"
#include "convert/limits.h"
#include "convert/line_converter.h"
#include "tests/support/convert_text.h"

namespace quorvane {
namespace {

struct ConversionCase {
  std::string text;
  std::string decimal;
};

TEST(BinaryToDecimalTest, ConvertsDigitTexts) {
  const ConversionCase cases[] = {
      /* 0*/ {"", "0"},
      /* 1*/ {"0", "0"},
      /* 2*/ {"0000", "0"},
      /* 3*/ {"1", "1"},
      /* 4*/ {"1010", "10"},
      /* 5*/ {"0001", "1"},
      /* 6*/ {std::string(kMaxLineDigits, '1'), std::to_string(kLargestDecimal)},
      /* 7*/ {"1" + std::string(kMaxLineDigits - 1, '0'), "1073741824"},
      /* 8*/ {"1" + std::string(kMaxLineDigits, '0'), "-1"},
      /* 9*/ {"1" + std::string(40, '1'), "-1"},
      /*10*/ {std::string(40, '0') + "101", "5"},
      /*11*/
      {std::string(200, '0') + std::string(kMaxLineDigits, '1'), std::to_string(kLargestDecimal)},
      // Characters other than "1" count nothing but keep their place.
      /*12*/ {"1x1", "5"},
      /*13*/ {"2", "0"},
      /*14*/ {"12", "2"},
      // A Japanese character is one position, as the dialog counts it; an emoji is two.
      /*15*/ {"1あ1", "5"},
      /*16*/
      {"1\xF0\x9F\x98\x80"
       "1",
       "9"},
      /*17*/ {"\xE3\x81\x82" + std::string(30, '1'), "1073741823"},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    EXPECT_EQ(BinaryToDecimal(cases[row].text), cases[row].decimal);
  }
}

// Every value of every width up to kMaxLineDigits digits, against arithmetic done another way.
TEST(BinaryToDecimalTest, AgreesWithIntegerArithmeticForEveryWidth) {
  for (size_t width = 1; width <= kMaxLineDigits; ++width) {
    for (uint64_t value :
         {uint64_t{0}, uint64_t{1}, (uint64_t{1} << width) - 1, (uint64_t{1} << (width - 1)),
          uint64_t{0x55555555} % (uint64_t{1} << width)}) {
      std::string text;
      for (size_t bit = width; bit-- > 0;) text += ((value >> bit) & 1) ? '1' : '0';
      SCOPED_TRACE(text);
      EXPECT_EQ(BinaryToDecimal(text), std::to_string(value));
    }
  }
}

TEST(IsBinaryTextTest, AcceptsOnlyZerosAndOnes) {
  const std::pair<std::string, bool> cases[] = {
      {"", true},     {"0", true},   {"0101", true},  {"2", false},  {"01a", false},
      {"10 ", false}, {"１", false}, {"1\n0", false}, {"-1", false}, {std::string("1\0", 2), false},
  };
  for (const auto& [text, binary] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(IsBinaryText(text), binary);
  }
}

// ---- The line converter of drop files and --convert.

using namespace std::string_literals;
using Path = LineConverter::Path;

// Every converter path this machine runs, for the tables below to be run once per path. A path it
// lacks is named in the test output: a run on such a machine says what it left untested.
std::vector<Path> TestedPaths() {
  std::vector<Path> paths;
  for (Path path : LineConverter::kPaths) {
    if (LineConverter::Supported(path)) {
      paths.push_back(path);
    } else {
      std::printf("[  SKIPPED ] the %s converter path: this machine does not run it\n",
                  std::string(LineConverter::Name(path)).c_str());
    }
  }
  return paths;
}

std::string PathTrace(Path path) { return "path " + std::string(LineConverter::Name(path)); }

// Lines for the values where the number of decimal digits changes, and their decimals.
std::pair<std::string, std::string> DigitCountEdges() {
  std::pair<std::string, std::string> lines;
  auto add = [&lines](uint64_t value) {
    std::string binary;
    for (uint64_t rest = value; rest != 0; rest >>= 1) binary.insert(0, 1, rest & 1 ? '1' : '0');
    lines.first += (binary.empty() ? "0" : binary) + "\r\n";
    lines.second += std::to_string(value) + "\r\n";
  };
  for (uint64_t power = 1; power <= kLargestDecimal; power *= 10) {
    add(power - 1);
    add(power);
  }
  add(kLargestDecimal);
  return lines;
}

struct LinesCase {
  std::string input;
  std::string result;
  uint64_t lines;
};

TEST(ConvertLinesInPartsTest, SplitsConvertsAndSkipsEmptyLines) {
  const auto [edges, edge_decimals] = DigitCountEdges();
  const LinesCase cases[] = {
      /* 0*/ {"101\r\n11\r\n", "5\r\n3\r\n", 2},
      /* 1*/ {"101\n11\n", "5\r\n3\r\n", 2},
      /* 2*/ {"\r\n101\r\n\r\n\n11\r\n\r\n\r\n", "5\r\n3\r\n", 2},
      /* 3*/ {"101\n11", "5\r\n3\r\n", 2},
      // A lone CR ends nothing: both sides are one line.
      /* 4*/ {"10\r1", "5\r\n", 1},
      /* 5*/ {"\r\n\r\n\n", "", 0},
      /* 6*/ {"", "", 0},
      /* 7*/
      {std::string(kMaxLineDigits, '1') + "\r\n", std::to_string(kLargestDecimal) + "\r\n", 1},
      /* 8*/ {"0\r\n00\r\n1", "0\r\n0\r\n1\r\n", 3},
      /* 9*/ {"\r\r1\r\r0\r\r", "2\r\n", 1},
      // Lines across the eight-byte words the converter reads.
      /*10*/
      {"1111111\n11111111\n111111111\r\n" + std::string(kMaxLineDigits - 1, '0') +
           "1\n1000000000000000",
       "127\r\n255\r\n511\r\n1\r\n32768\r\n", 5},
      /*11*/ {"1010101010101010101010101010101", "1431655765\r\n", 1},
      // Zero bytes that only trail the text end it.
      /*12*/ {"101\r\n11\0\0\0"s, "5\r\n3\r\n", 2},
      /*13*/ {"1\n\0"s, "1\r\n", 1},
      /*14*/ {std::string(20, '\0'), "", 0},
      // Every value where the decimal grows by a digit, and the largest.
      /*15*/ {edges, edge_decimals, 21},
      // A line across the 64-byte blocks, CRs inside it on either side of the block's end.
      /*16*/
      {std::string(50, '\n') + "1111111111\r11111\r\r" + "1111111111111111\r\n",
       std::to_string(kLargestDecimal) + "\r\n", 1},
      // Zero bytes from the middle of a block to the end of the next ones.
      /*17*/ {std::string(100, '\n') + "110" + std::string(300, '\0'), "6\r\n", 1},
  };
  for (Path path : TestedPaths()) {
    for (size_t row = 0; row < std::size(cases); ++row) {
      SCOPED_TRACE(PathTrace(path) + ", row " + std::to_string(row));
      const testing::ConvertedText outcome = testing::ConvertText(cases[row].input, path);
      EXPECT_FALSE(outcome.line_too_long);
      EXPECT_FALSE(outcome.not_binary);
      EXPECT_EQ(outcome.result, cases[row].result);
      EXPECT_EQ(outcome.line_count, cases[row].lines);
      EXPECT_EQ(outcome.checked, outcome.verdict());
    }
  }
}

TEST(ConvertLinesInPartsTest, RefusesTheWholeFileForOneLineOver31Digits) {
  // With the number of the line that refuses it, which a calling program's --batch line names.
  const struct {
    std::string input;
    uint64_t line;
  } too_long[] = {
      {std::string(kMaxLineDigits, '0') + "1", 1},                        // leading zeros count
      {"1\r\n" + std::string(kMaxLineDigits + 1, '1'), 2},                // the last line
      {std::string(kMaxLineDigits + 1, '1') + "\r\n1\r\n", 1},            // the first line
      {"1\r\n" + std::string(16, '1') + "\r" + std::string(16, '1'), 2},  // a CR does not split it
      // Across a block's end, and one of 64 digits filling a block.
      {std::string(60, '\n') + std::string(kMaxLineDigits + 1, '1'), 61},
      {std::string(64, '1') + "\n1\n", 1},
      // Zero bytes that only trail the text do not save it.
      {"1\n" + std::string(40, '0') + "\0\0"s, 2},
      // The first long line, not a later one.
      {"1\n" + std::string(40, '1') + "\n\n" + std::string(40, '1'), 2},
  };
  for (Path path : TestedPaths()) {
    for (const auto& row : too_long) {
      SCOPED_TRACE(PathTrace(path) + ": " + row.input);
      const testing::ConvertedText outcome = testing::ConvertText(row.input, path);
      EXPECT_TRUE(outcome.line_too_long);
      EXPECT_FALSE(outcome.not_binary);
      EXPECT_EQ(outcome.fault_line, row.line);
      EXPECT_EQ(outcome.checked, outcome.verdict());
    }
  }
}

// Wherever the text falls against the 64-byte blocks the converter reads, the result is the
// same.
TEST(ConvertLinesInPartsTest, EveryAlignmentGivesTheSameResult) {
  const std::string input =
      "1101\r\n\r\n1\r0\n" + std::string(kMaxLineDigits, '1') + "\n0001\r\n10";
  for (Path path : TestedPaths()) {
    SCOPED_TRACE(PathTrace(path));
    const testing::ConvertedText whole = testing::ConvertText(input, path);
    EXPECT_EQ(whole.result, "13\r\n2\r\n" + std::to_string(kLargestDecimal) + "\r\n1\r\n2\r\n");
    // Shifts up to 72 cross the blocks; 200 to 210 carry the text across the size up to which
    // a short text is converted through a small buffer.
    std::vector<size_t> shifts;
    for (size_t shift = 1; shift <= 72; ++shift) shifts.push_back(shift);
    for (size_t shift = 200; shift <= 210; ++shift) shifts.push_back(shift);
    for (size_t shift : shifts) {
      SCOPED_TRACE(shift);
      const testing::ConvertedText shifted =
          testing::ConvertText(std::string(shift, '\n') + input, path);
      EXPECT_EQ(shifted.result, whole.result);
      EXPECT_EQ(shifted.line_count, whole.line_count);
    }
  }
}

TEST(ConvertLinesInPartsTest, AllowsOnlyDigitsAndLineBreaks) {
  const std::pair<std::string, bool> cases[] = {
      {"101\r\n11\r\n", true},
      {"", true},
      {"\r\n", true},
      {"1", true},
      {"1 \r\n", false},
      {"2", false},
      {"1,0", false},
      {"1\t0", false},
      {"\xEF\xBB\xBF"
       "1",
       false},  // a byte-order mark
      {std::string("1\0"
                   "1",
                   3),
       false},              // a zero byte is not a line break
      {"1\0\r\n"s, false},  // nor a line end: bytes after it would be lost
      {"1\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\n"s, false},
      {"1\r\n\0\0"s, true},                 // trailing zero bytes end the text
      {std::string(40, '1') + "/", false},  // "/" and ":" are next to the digits, far in a line
      {"1111111111:\r\n", false},
      {std::string(33, '0') + "\x80", false},  // a high byte after a too long line
      // A stray byte as the last of a block, as the first of the next, and after zero bytes
      // that reach into the next block.
      {std::string(63, '1') + "\x8D", false},
      {std::string(64, '\n') + "\x0B" + "1", false},
      {"1\n" + std::string(kMaxLineDigits + 1, '1') + "\n" + std::string(80, '\0') + "1", false},
      {std::string(63, '\n') + std::string(70, '\0'), true},
  };
  for (Path path : TestedPaths()) {
    for (const auto& [bytes, allowed] : cases) {
      SCOPED_TRACE(PathTrace(path) + ": " + bytes);
      const testing::ConvertedText outcome = testing::ConvertText(bytes, path);
      EXPECT_EQ(outcome.not_binary, !allowed);
      EXPECT_EQ(outcome.checked, outcome.verdict());
    }
  }
}

// Unless asked for another, the fastest path the machine runs.
TEST(LineConverterTest, TheMachinesFastestPathByDefault) {
  if (std::getenv("QUORVANE_CONVERTER") != nullptr) GTEST_SKIP() << "QUORVANE_CONVERTER is set";
  EXPECT_EQ(LineConverter::DefaultPath(),
            LineConverter::Supported(Path::kAvx2) ? Path::kAvx2 : Path::kPortable);
}

// A text that arrives in parts: the same digits as a whole text, each line written as it ends,
// and the first fault stops the text before its line. Every row is fed whole and in parts of
// every size from 1 to 9 bytes, so each state crosses a part boundary somewhere.
TEST(LineConverterTest, ConvertsLineByLineAndStopsAtTheFirstFault) {
  using Fault = LineConverter::Fault;
  const struct {
    std::string input;
    const char* line_end;
    std::string output;
    Fault fault;
    uint64_t fault_line;  // checked when there is a fault
  } rows[] = {
      /* 0*/ {"101\r\n11\r\n", "\n", "5\n3\n", Fault::kNone, 0},
      /* 1*/ {"101\r\n11\r\n", "\r\n", "5\r\n3\r\n", Fault::kNone, 0},
      /* 2*/ {"\n\n1\r0\r\n\r\n0\n11", "\n", "2\n0\n3\n", Fault::kNone, 0},
      /* 3*/ {"", "\n", "", Fault::kNone, 0},
      /* 4*/
      {std::string(kMaxLineDigits, '1') + "\n" + std::string(kMaxLineDigits - 1, '0') + "1", "\n",
       std::to_string(kLargestDecimal) + "\n1\n", Fault::kNone, 0},
      /* 5*/ {"1111111111111111\n1010\r\n", "\n", "65535\n10\n", Fault::kNone, 0},
      /* 6*/ {"1\n10\n1x\n11\n", "\n", "1\n2\n", Fault::kNotBinary, 3},
      /* 7*/
      {"1\n\n" + std::string(kMaxLineDigits + 1, '0') + "\n1\n", "\n", "1\n", Fault::kLineTooLong,
       3},
      /* 8*/
      {"1\r\n" + std::string(16, '1') + "\r" + std::string(16, '1'), "\r\n", "1\r\n",
       Fault::kLineTooLong, 2},
      /* 9*/
      {"\xEF\xBB\xBF"
       "1\n",
       "\n", "", Fault::kNotBinary, 1},
      /*10*/ {"11111111111111111111111111111111x", "\n", "", Fault::kLineTooLong, 1},
      // Zero bytes: trailing ones end the text, with or without a line end before them.
      /*11*/ {"101\n11\0\0\0\0\0\0\0\0\0\0"s, "\n", "5\n3\n", Fault::kNone, 0},
      /*12*/ {"1\n\0"s, "\n", "1\n", Fault::kNone, 0},
      /*13*/ {"1\n11\0\0\0\0\0\0\0\0\0\0\0\n"s, "\n", "1\n", Fault::kNotBinary, 2},
      /*14*/
      {"1\n10\0"
       "1\n"s,
       "\n", "1\n", Fault::kNotBinary, 2},
      /*15*/ {"\0\r"s, "\n", "", Fault::kNotBinary, 1},
      // Faults blocks away from the start: the lines before them are all written, and counted.
      /*16*/
      {[] {
         std::string text;
         for (int i = 0; i < 40; ++i) text += "1\r\n";
         return text + "10" + std::string(kMaxLineDigits, '1') + "\r\n1\r\n";
       }(),
       "\n",
       [] {
         std::string text;
         for (int i = 0; i < 40; ++i) text += "1\n";
         return text;
       }(),
       Fault::kLineTooLong, 41},
      /*17*/
      {std::string(70, '\n') + "111\n" + std::string(kMaxLineDigits, '1') + "2", "\n", "7\n",
       Fault::kNotBinary, 72},
      // A line that grows too long before a stray byte in the same block stops as too long.
      /*18*/
      {"1\n" + std::string(20, '1') + "\r" + std::string(12, '0') + "?", "\n", "1\n",
       Fault::kLineTooLong, 2},
  };
  for (Path path : TestedPaths()) {
    for (size_t row = 0; row < std::size(rows); ++row) {
      for (size_t part = 1; part <= 10; ++part) {
        const size_t part_size = part == 10 ? rows[row].input.size() + 1 : part;
        SCOPED_TRACE(PathTrace(path) + ", row " + std::to_string(row) + ", parts of " +
                     std::to_string(part_size));
        LineConverter stream(rows[row].line_end, LineConverter::LongLines::kStop, path);
        std::string output;
        for (size_t at = 0; at < rows[row].input.size(); at += part_size) {
          const std::string_view piece = std::string_view(rows[row].input).substr(at, part_size);
          std::string buffer(LineConverter::OutputBound(piece.size()), '?');
          output.append(buffer.data(), stream.Feed(piece, buffer.data()));
        }
        char last[LineConverter::OutputBound(0)];
        output.append(last, stream.Finish(last));
        EXPECT_EQ(output, rows[row].output);
        EXPECT_EQ(stream.fault(), rows[row].fault);
        if (rows[row].fault != Fault::kNone) {
          EXPECT_EQ(stream.fault_line(), rows[row].fault_line);
        }
      }
    }
  }
}

// The densest output for its input, fed in one part, stays within the bound; so do the 16 bytes
// each line is stored with (an AddressSanitizer build sees a store past the buffer).
TEST(LineConverterTest, OutputBoundHoldsForTheDensestInput) {
  for (Path path : TestedPaths()) {
    SCOPED_TRACE(PathTrace(path));
    std::string input =
        std::string(kMaxLineDigits, '1');  // a pending line, ended by the first LF below
    std::string tail;
    for (int i = 0; i < 1000; ++i) tail += "1\n";
    LineConverter stream("\r\n", LineConverter::LongLines::kStop, path);
    auto buffer = std::make_unique<char[]>(LineConverter::OutputBound(input.size()));
    EXPECT_EQ(stream.Feed(input, buffer.get()), buffer.get());
    const size_t size = LineConverter::OutputBound(tail.size() + 1);
    buffer = std::make_unique<char[]>(size);
    const char* end = stream.Feed("\n" + tail, buffer.get());
    EXPECT_EQ(static_cast<size_t>(end - buffer.get()), 12u + 3000u);
    EXPECT_LE(static_cast<size_t>(end - buffer.get()), size);
    buffer = std::make_unique<char[]>(LineConverter::OutputBound(0));
    EXPECT_EQ(stream.Finish(buffer.get()), buffer.get());
  }
}

TEST(TrimTrailingBreaksTest, RemovesOnlyTheEnd) {
  EXPECT_EQ(TrimTrailingBreaks("1\r\n0\r\n\n\r"), "1\r\n0");
  EXPECT_EQ(TrimTrailingBreaks("\r\n\r\n"), "");
  EXPECT_EQ(TrimTrailingBreaks("\r\n1"), "\r\n1");
}

}  // namespace
}  // namespace quorvane
