#include <gtest/gtest.h>

#include <string>

#include "convert/binary_to_decimal.h"
#include "convert/limits.h"

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

// Every value the batch run can meet, against arithmetic done another way.
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

}  // namespace
}  // namespace quorvane
