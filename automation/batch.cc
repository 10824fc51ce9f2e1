#include "automation/batch.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "convert/binary_to_decimal.h"

namespace quorvane {

std::string_view TrimTrailingBreaks(std::string_view text) {
  size_t end = text.find_last_not_of("\r\n");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

namespace {

constexpr uint64_t kEveryByte = 0x0101010101010101;

// The eight bytes at `bytes`, the first in the lowest byte.
uint64_t Load8(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// A high bit in each byte of `word` that is not "0" or "1".
uint64_t NonDigits(uint64_t word) {
  const uint64_t x = (word & (0xFE * kEveryByte)) ^ (0x30 * kEveryByte);  // 0 where a digit
  return (((x & (0x7F * kEveryByte)) + 0x7F * kEveryByte) | x) & (0x80 * kEveryByte);
}

// The low bits of the bytes of `word` (digits "0" and "1"), the first byte's as the highest of
// the eight.
uint64_t DigitBits(uint64_t word) { return ((word & kEveryByte) * 0x8040201008040201) >> 56; }

// Two decimal digits for each value below 100.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Results are written from 32-bit values, at most ten digits each; a longer line needs wider
// arithmetic here.
static_assert(kMaxLineDigits <= 32);

// Writes `value` in decimal at `out`; returns the end of what was written.
char* WriteDecimal(uint32_t value, char* out) {
  int digits = 1;
  for (uint32_t bound = 10; digits < 10 && value >= bound; bound *= 10) ++digits;
  char* end = out + digits;
  char* at = end;
  while (value >= 100) {
    const uint32_t pair = value % 100;
    value /= 100;
    at -= 2;
    std::memcpy(at, kDigitPairs + 2 * pair, 2);
  }
  if (value >= 10) {
    std::memcpy(at - 2, kDigitPairs + 2 * value, 2);
  } else {
    at[-1] = static_cast<char>('0' + value);
  }
  return end;
}

// Writes `value` in decimal and CR LF at `out`; returns the end of what was written.
char* WriteDecimalLine(uint32_t value, char* out) {
  char* end = WriteDecimal(value, out);
  end[0] = '\r';
  end[1] = '\n';
  return end + 2;
}

// The low bits of the first `count` (below eight) bytes of `word`, the first byte's highest.
uint64_t LeadingDigitBits(uint64_t word, unsigned count) {
  return DigitBits(word & ((uint64_t{1} << (8 * count)) - 1)) >> (8 - count);
}

class Converter {
 public:
  explicit Converter(FileBuffer& buffer)
      : buffer_(buffer), out_(buffer.data()), ready_(buffer.data()) {}

  void Digits(uint64_t bits, unsigned count) {
    // Past kMaxLineDigits digits the line is refused as a whole, so its value may wrap unseen.
    value_ = (value_ << count) | bits;
    digits_ += count;
  }
  void Other(char byte, BatchOutcome& outcome) {
    if (byte == '\n') {
      EndLine(outcome);
    } else if (byte != '\r') {
      outcome.not_binary = true;
    }
  }
  void EndLine(BatchOutcome& outcome) {
    if (digits_ == 0) return;
    ++outcome.line_count;
    if (digits_ > kMaxLineDigits) outcome.line_too_long = true;
    if (out_ + kLineBytes > ready_) {
      buffer_.Prepare(written() + kLineBytes);
      ready_ = buffer_.data() + buffer_.ready();
    }
    out_ = WriteDecimalLine(static_cast<uint32_t>(value_), out_);
    value_ = 0;
    digits_ = 0;
  }
  size_t written() const { return static_cast<size_t>(out_ - buffer_.data()); }

 private:
  // The most a line's result takes: ten digits and CR LF.
  static constexpr size_t kLineBytes = 12;

  FileBuffer& buffer_;
  uint64_t value_ = 0;
  uint64_t digits_ = 0;
  char* out_;
  char* ready_;  // up to here the buffer takes writes without a page fault
};

}  // namespace

BatchOutcome ConvertBatch(std::string_view text) {
  // Found from the end, so the cost is that of the zero bytes alone.
  text = text.substr(0, text.find_last_not_of('\0') + 1);
  BatchOutcome outcome;
  // The densest input, "1" LF lines, gives three result bytes for every two input bytes; a last
  // line without a line end gives two more. A refused line still writes its (wrapped) value of at
  // most ten digits, which its 32 digits leave room for.
  outcome.storage = FileBuffer(text.size() + text.size() / 2 + 12);
  Converter converter(outcome.storage);
  const char* at = text.data();
  const char* const end = at + text.size();
  // Eight bytes at a time: a run of digits is taken whole; at the first other byte the digits
  // before it are taken and the byte itself looked at.
  while (end - at >= 8) {
    const uint64_t word = Load8(at);
    const uint64_t others = NonDigits(word);
    if (others == 0) {
      converter.Digits(DigitBits(word), 8);
      at += 8;
      continue;
    }
    const unsigned digits = static_cast<unsigned>(std::countr_zero(others)) / 8;
    if (digits > 0) converter.Digits(LeadingDigitBits(word, digits), digits);
    converter.Other(at[digits], outcome);
    at += digits + 1;
  }
  for (; at < end; ++at) {
    if ((*at & 0xFE) == '0') {
      converter.Digits(static_cast<uint64_t>(*at - '0'), 1);
    } else {
      converter.Other(*at, outcome);
    }
  }
  converter.EndLine(outcome);
  if (outcome.line_too_long || outcome.not_binary) {
    outcome.storage = FileBuffer();
  } else {
    outcome.result = std::string_view(outcome.storage.data(), converter.written());
  }
  return outcome;
}

char* BatchStream::Feed(std::string_view part, char* out) {
  const char* at = part.data();
  const char* const end = at + part.size();
  if (zero_seen_ && fault_ == Fault::kNone) {
    if (std::find_if(at, end, [](char byte) { return byte != '\0'; }) != end) {
      fault_ = Fault::kNotBinary;
    }
    return out;
  }
  // As in ConvertBatch: eight bytes at a time while they are digits.
  while (fault_ == Fault::kNone && !zero_seen_ && end - at >= 8) {
    const uint64_t word = Load8(at);
    const uint64_t others = NonDigits(word);
    if (others == 0) {
      TakeDigits(DigitBits(word), 8);
      at += 8;
      continue;
    }
    const unsigned digits = static_cast<unsigned>(std::countr_zero(others)) / 8;
    if (digits > 0) TakeDigits(LeadingDigitBits(word, digits), digits);
    if (fault_ != Fault::kNone) break;
    out = TakeOther(at[digits], at + digits + 1, end, out);
    at += digits + 1;
  }
  for (; fault_ == Fault::kNone && !zero_seen_ && at < end; ++at) {
    if ((*at & 0xFE) == '0') {
      TakeDigits(static_cast<uint64_t>(*at - '0'), 1);
    } else {
      out = TakeOther(*at, at + 1, end, out);
    }
  }
  return out;
}

char* BatchStream::Finish(char* out) { return fault_ == Fault::kNone ? EndLine(out) : out; }

void BatchStream::TakeDigits(uint64_t bits, unsigned count) {
  // Stopped at once, so the value never holds more than kMaxLineDigits + 8 bits.
  value_ = (value_ << count) | bits;
  digits_ += count;
  if (digits_ > kMaxLineDigits) fault_ = Fault::kLineTooLong;
}

char* BatchStream::TakeOther(char byte, const char* rest, const char* end, char* out) {
  if (byte == '\n') {
    out = EndLine(out);
    ++line_;
  } else if (byte == '\0') {
    // The end of the text, unless something other than zero bytes follows.
    zero_seen_ = true;
    if (std::find_if(rest, end, [](char c) { return c != '\0'; }) != end) {
      fault_ = Fault::kNotBinary;
    }
  } else if (byte != '\r') {
    fault_ = Fault::kNotBinary;
  }
  return out;
}

char* BatchStream::EndLine(char* out) {
  if (digits_ == 0) return out;
  out = WriteDecimal(static_cast<uint32_t>(value_), out);
  if (crlf_) *out++ = '\r';
  *out++ = '\n';
  value_ = 0;
  digits_ = 0;
  return out;
}

}  // namespace quorvane
