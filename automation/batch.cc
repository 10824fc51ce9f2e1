#include "automation/batch.h"

#include <utility>

#include "convert/binary_to_decimal.h"

namespace quorvane {

namespace {

// 1 when `byte` is not one of "0", "1", CR and LF; without a branch, so that a loop over it can be
// vectorised.
inline unsigned char NotBatchByte(unsigned char byte) {
  return static_cast<unsigned char>(((byte & 0xFE) != '0') & (byte != '\r') & (byte != '\n'));
}

}  // namespace

bool IsBatchText(std::string_view bytes) {
  // Blocks of a fixed size are checked whole and the answer looked at once per block: a whole
  // input file is read this way before every run.
  constexpr size_t kBlock = 64;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t i = 0;
  for (; i + kBlock <= bytes.size(); i += kBlock) {
    unsigned char bad = 0;
    for (size_t j = 0; j < kBlock; ++j) bad |= NotBatchByte(data[i + j]);
    if (bad != 0) return false;
  }
  for (; i < bytes.size(); ++i) {
    if (NotBatchByte(data[i]) != 0) return false;
  }
  return true;
}

std::string_view TrimTrailingBreaks(std::string_view text) {
  size_t end = text.find_last_not_of("\r\n");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

void BatchConverter::Feed(std::string_view bytes) {
  // The line's value and length stay in locals: kept in the members, every digit would wait for
  // the store of the one before it (the bytes may alias them, as far as the compiler knows).
  uint32_t value = value_;
  uint64_t digits = digits_;
  for (char byte : bytes) {
    if (byte == '\n') {
      value_ = value;
      digits_ = digits;
      EndLine();
      value = 0;
      digits = 0;
    } else if (byte == '0' || byte == '1') {
      // Lines longer than the limit are refused as a whole, so their value may wrap unseen.
      value = value * 2 + static_cast<uint32_t>(byte - '0');
      ++digits;
    }
  }
  value_ = value;
  digits_ = digits;
}

void BatchConverter::EndLine() {
  if (digits_ == 0) return;
  ++outcome_.line_count;
  if (digits_ > kMaxLineDigits) outcome_.line_too_long = true;
  if (!outcome_.line_too_long) {
    AppendDecimal(value_, outcome_.result);
    outcome_.result += "\r\n";
  }
  value_ = 0;
  digits_ = 0;
}

BatchConverter::Outcome BatchConverter::Finish() {
  EndLine();
  if (outcome_.line_too_long) outcome_.result.clear();
  return std::move(outcome_);
}

BatchConverter::Outcome ConvertBatch(std::string_view text) {
  BatchConverter converter;
  converter.Feed(text);
  return converter.Finish();
}

}  // namespace quorvane
