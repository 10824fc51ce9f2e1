#include "automation/batch.h"

#include <utility>

#include "convert/binary_to_decimal.h"

namespace quorvane {

bool IsBatchText(std::string_view bytes) {
  for (char byte : bytes) {
    if (byte != '0' && byte != '1' && byte != '\r' && byte != '\n') return false;
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
