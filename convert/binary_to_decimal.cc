#include "convert/binary_to_decimal.h"

#include <iterator>

namespace quorvane {
namespace {

// How many UTF-16 code units the UTF-8 sequence starting with `byte` takes; continuation bytes
// take none, four-byte sequences take a surrogate pair.
int CodeUnitsOfByte(unsigned char byte) {
  if ((byte & 0xC0) == 0x80) return 0;
  return byte >= 0xF0 ? 2 : 1;
}

// Appends `value` in decimal ("%u") to `out`. Digits are made from the right into a buffer and
// appended in one go.
void AppendDecimal(uint64_t value, std::string& out) {
  char digits[20];
  char* first = std::end(digits);
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  out.append(first, std::end(digits));
}

}  // namespace

std::string BinaryToDecimal(std::string_view text) {
  // Reading from the left, each position doubles what came before it; once the value is past
  // the largest decimal it can only grow, so the answer is settled there (before it could
  // overflow: the largest decimal leaves room for one more doubling).
  static_assert(kLargestDecimal < (uint64_t{1} << 62));
  uint64_t value = 0;
  for (unsigned char byte : text) {
    for (int unit = CodeUnitsOfByte(byte); unit > 0; --unit) value *= 2;
    if (byte == '1') value += 1;
    if (value > kLargestDecimal) return "-1";
  }
  std::string out;
  AppendDecimal(value, out);
  return out;
}

bool IsBinaryText(std::string_view text) {
  return text.find_first_not_of("01") == std::string_view::npos;
}

}  // namespace quorvane
