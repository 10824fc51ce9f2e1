#include "automation/batch.h"

#include <algorithm>
#include <cstring>
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

namespace {

// The most a line's result can take: ten digits and CR LF, written as one block of this size.
constexpr size_t kLineBlock = 12;

// Writes `value` in decimal and CR LF at `out` and returns how many bytes that is. Writes a whole
// block of kLineBlock bytes; those past the line's end are overwritten by the next line.
size_t WriteDecimalLine(uint32_t value, char* out) {
  char block[2 * kLineBlock] = {};
  char* first = block + kLineBlock;
  *--first = '\n';
  *--first = '\r';
  do {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  std::memcpy(out, first, kLineBlock);
  return static_cast<size_t>(block + kLineBlock - first);
}

}  // namespace

void BatchConverter::Reserve(size_t input_size) {
  // The densest input, "1" LF lines, gives three result bytes for every two input bytes.
  if (capacity_ < input_size + input_size / 2 + kLineBlock) {
    Grow(input_size + input_size / 2 + kLineBlock);
  }
}

void BatchConverter::Grow(size_t at_least) {
  // Not std::string: its room would be zero-filled or each append checked, and a large file
  // has a great many lines.
  const size_t capacity = std::max(at_least, 2 * capacity_);
  auto storage = std::make_unique_for_overwrite<char[]>(capacity);
  if (size_ > 0) std::memcpy(storage.get(), outcome_.storage.get(), size_);
  outcome_.storage = std::move(storage);
  capacity_ = capacity;
}

void BatchConverter::Feed(std::string_view bytes) {
  for (char byte : bytes) {
    if (byte == '\n') {
      EndLine();
    } else if (byte == '0' || byte == '1') {
      // Lines longer than the limit are refused as a whole, so their value may wrap unseen.
      value_ = value_ * 2 + static_cast<uint32_t>(byte - '0');
      ++digits_;
    }
  }
}

void BatchConverter::EndLine() {
  if (digits_ == 0) return;
  ++outcome_.line_count;
  if (digits_ > kMaxLineDigits) outcome_.line_too_long = true;
  if (!outcome_.line_too_long) {
    if (capacity_ - size_ < kLineBlock) Grow(size_ + kLineBlock);
    size_ += WriteDecimalLine(value_, outcome_.storage.get() + size_);
  }
  value_ = 0;
  digits_ = 0;
}

BatchConverter::Outcome BatchConverter::Finish() {
  EndLine();
  if (outcome_.line_too_long) {
    outcome_.storage.reset();
    size_ = 0;
  }
  outcome_.result = std::string_view(outcome_.storage.get(), size_);
  return std::move(outcome_);
}

BatchConverter::Outcome ConvertBatch(std::string_view text) {
  BatchConverter converter;
  converter.Feed(text);
  return converter.Finish();
}

}  // namespace quorvane
