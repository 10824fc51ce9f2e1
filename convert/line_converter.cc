#include "convert/line_converter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QUORVANE_HAS_AVX2_PATH 1
// The C library's own reading of the processor's features; its header is C (it says _Bool),
// which only GCC also accepts as C++.
#if defined(__GLIBC__) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define QUORVANE_HAS_GLIBC_CPU_FEATURES 1
#endif
#else
#define QUORVANE_HAS_AVX2_PATH 0
#endif
#ifndef QUORVANE_HAS_GLIBC_CPU_FEATURES
#define QUORVANE_HAS_GLIBC_CPU_FEATURES 0
#endif

namespace quorvane {
namespace {

using Fault = LineConverter::Fault;
using Path = LineConverter::Path;
using State = LineConverter::State;

// Results are written from values below 2^32, at most ten digits each; a longer line needs wider
// arithmetic here.
static_assert(kMaxLineDigits <= 31);

// What each byte of a 64-byte block is, one bit per byte, the first byte's the lowest; except
// `ones`, in which the first byte's bit is the highest, so that a run of digits read from it is
// already their number.
struct Block {
  uint64_t digits;  // "0" and "1"
  uint64_t lf;
  uint64_t cr;
  uint64_t others;  // anything but a digit, LF or CR
  uint64_t ones;    // the low bit of each byte, the first byte's highest
};

// ---- Writing a decimal line, with no branch.

// The eight decimal digits of `value` (below 10^8) as characters, the first in the lowest byte:
// split in halves of four digits, each half in halves of two, each of those in two digits, every
// split done in all lanes at once by a multiplication.
inline uint64_t EightDigits(uint32_t value) {
  const uint32_t upper = value / 10000;
  const uint64_t fours = upper | uint64_t{value - upper * 10000} << 32;
  // x / 100 for x below 10^4 is (x * 10486) >> 20.
  const uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;
  const uint64_t twos = hundreds | (fours - hundreds * 100) << 16;
  // x / 10 for x below 100 is (x * 103) >> 10.
  const uint64_t tens = ((twos * 103) >> 10) & 0x000F000F000F000F;
  const uint64_t ones = tens | (twos - tens * 10) << 8;
  return ones | 0x3030303030303030;
}

constexpr uint32_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                     100000, 1000000, 10000000, 100000000, 1000000000};

// How many decimal digits `value` has (one for 0): log10 estimated from the bit width, then
// corrected by one comparison.
inline unsigned DecimalDigits(uint32_t value) {
  const unsigned guess = (static_cast<unsigned>(std::bit_width(value | 1)) * 1233) >> 12;
  return guess + static_cast<unsigned>((value | 1) >= kPowersOfTen[guess]);
}

// A line as it is stored: ten digits with their leading zeros, then the line end, the first byte
// in the lowest byte of `first`; only the last `count` digits are written.
struct LineText {
  uint64_t first;   // the first eight digits
  uint64_t second;  // the last two, and the line end
  unsigned count;
};

inline LineText MakeLineText(uint32_t value, uint64_t line_end) {
  // The two digits above the last eight are worked out, not looked up: a load whose address comes
  // this late waits behind the stores of the lines before it, and cost more than the arithmetic.
  const uint32_t top = value / 100000000;  // at most 21
  const uint32_t top_tens = top / 10;
  const uint64_t low = EightDigits(value - top * 100000000);
  return {(0x3030 | top_tens | (top - top_tens * 10) << 8) | low << 16, low >> 48 | line_end << 16,
          DecimalDigits(value)};
}

// ---- The two paths: how a block is classified, a line stored, a run of digits counted.

constexpr uint64_t kEachByte = 0x0101010101010101;

// The eight bytes at `bytes`, the first in the lowest byte.
inline uint64_t Load8(const char* bytes) {
  uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// Stores `word` at `bytes`, its lowest byte first.
inline void StoreWord(uint64_t word, char* bytes) {
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  std::memcpy(bytes, &word, sizeof word);
}

// The high bit of each byte of `word` that is zero, and no other bit.
inline uint64_t ZeroBytes(uint64_t word) {
  return ~(((word & (0x7F * kEachByte)) + 0x7F * kEachByte) | word) & (0x80 * kEachByte);
}

// The high bit of each byte of `word` that is "0" or "1".
inline uint64_t DigitBytes(uint64_t word) {
  return ZeroBytes((word & (0xFE * kEachByte)) ^ (0x30 * kEachByte));
}

// The high bits of the eight bytes of `high_bits` as eight bits, the first byte's lowest.
inline uint64_t GatherHighBits(uint64_t high_bits) {
  return ((high_bits >> 7) * 0x0102040810204080) >> 56;
}

// The low bits of the eight bytes of `word` as eight bits, the first byte's highest.
inline uint64_t GatherLowBitsReversed(uint64_t word) {
  return ((word & kEachByte) * 0x8040201008040201) >> 56;
}

// Plain C++: eight bytes at a time in a 64-bit word.
struct PortablePath {
  // The CRs and the bytes that are none of the four are gathered only for a block that has
  // such bytes; otherwise every byte that is neither a digit nor an LF is a CR.
  static inline Block Classify(const char* at) {
    Block block{0, 0, 0, 0, 0};
    uint64_t unknown = 0;
    for (unsigned word = 0; word < 8; ++word) {
      const uint64_t bytes = Load8(at + 8 * word);
      const uint64_t digit = DigitBytes(bytes);
      const uint64_t lf = ZeroBytes(bytes ^ (0x0A * kEachByte));
      unknown |= ~(digit | lf | ZeroBytes(bytes ^ (0x0D * kEachByte)));
      block.digits |= GatherHighBits(digit) << (8 * word);
      block.lf |= GatherHighBits(lf) << (8 * word);
      block.ones |= GatherLowBitsReversed(bytes) << (56 - 8 * word);
    }
    block.cr = ~(block.digits | block.lf);
    if ((unknown & (0x80 * kEachByte)) != 0) [[unlikely]] {
      block.cr = 0;
      for (unsigned word = 0; word < 8; ++word) {
        block.cr |= GatherHighBits(ZeroBytes(Load8(at + 8 * word) ^ (0x0D * kEachByte)))
                    << (8 * word);
      }
      block.others = ~(block.digits | block.lf | block.cr);
    }
    return block;
  }

  // Stores the 16 bytes of `text` from its first digit after the zeros, at `out`, as two words:
  // the first one's bytes come from both of the text's words while fewer than eight are left
  // out; the second one is the text's second word shifted, which is all that matters of it then.
  static inline void Store(const LineText& text, char* out) {
    const unsigned skip = 10 - text.count;
    const unsigned shift = (8 * skip) & 63;
    const uint64_t second = text.second >> shift;
    const uint64_t both = text.first >> shift | (text.second << (63 - shift)) << 1;
    StoreWord(skip < 8 ? both : second, out);
    StoreWord(second, out + 8);
  }

  // Writes the lines of `values`, one after the other, at `out`; returns their end.
  template <class LineEnd>
  static inline char* WriteLines(const uint64_t* values, size_t count, char* out) {
    for (size_t line = 0; line < count; ++line) {
      const LineText text = MakeLineText(static_cast<uint32_t>(values[line]), LineEnd::kBytes);
      Store(text, out);
      out += text.count + LineEnd::kSize;
    }
    return out;
  }

  // The number of bits of a run of set bits (or of none).
  static inline unsigned RunLength(uint64_t run) {
    return static_cast<unsigned>(std::bit_width(run)) -
           (static_cast<unsigned>(std::countr_zero(run)) & 63);
  }
};

#if QUORVANE_HAS_AVX2_PATH
// One bit for the high bit of each byte of the two halves, the first half's in the low 32 bits.
[[gnu::target("avx2")]] inline uint64_t HighBits(__m256i first, __m256i second) {
  return uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(first))} |
         uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(second))} << 32;
}

// Each byte's low bit moved to its high bit, the 32 bytes in reverse order.
[[gnu::target("avx2")]] inline __m256i LowBitsReversed(__m256i bytes) {
  const __m256i reverse = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15,
                                           14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  // Reversed within each 128-bit lane, then the lanes swapped.
  const __m256i reversed = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(bytes, reverse), 0x4E);
  return _mm256_slli_epi16(reversed, 7);
}

// For each count of digits from 1 to 10, the byte shuffle that leaves out the zeros before them.
alignas(16) constexpr auto kSkipShuffles = [] {
  std::array<std::array<uint8_t, 16>, 11> shuffles{};
  for (unsigned count = 1; count < shuffles.size(); ++count) {
    const unsigned skip = 10 - count;
    for (unsigned i = 0; i < 16; ++i) {
      shuffles[count][i] = static_cast<uint8_t>(skip + i < 16 ? skip + i : 0x80);
    }
  }
  return shuffles;
}();

// AVX2 and BMI2: 32 bytes to a register.
struct Avx2Path {
  [[gnu::target("avx2")]] static inline Block Classify(const char* at) {
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at + 32));
    const __m256i not_one = _mm256_set1_epi8(static_cast<char>(0xFE));
    const __m256i zero_digit = _mm256_set1_epi8('0');
    const __m256i lf = _mm256_set1_epi8('\n');
    const __m256i cr = _mm256_set1_epi8('\r');
    const __m256i digit_1 = _mm256_cmpeq_epi8(_mm256_and_si256(first, not_one), zero_digit);
    const __m256i digit_2 = _mm256_cmpeq_epi8(_mm256_and_si256(second, not_one), zero_digit);
    const __m256i lf_1 = _mm256_cmpeq_epi8(first, lf);
    const __m256i lf_2 = _mm256_cmpeq_epi8(second, lf);
    const __m256i cr_1 = _mm256_cmpeq_epi8(first, cr);
    const __m256i cr_2 = _mm256_cmpeq_epi8(second, cr);
    Block block;
    block.digits = HighBits(digit_1, digit_2);
    block.lf = HighBits(lf_1, lf_2);
    block.cr = HighBits(cr_1, cr_2);
    block.others = ~(block.digits | block.lf | block.cr);
    // Reversed, the second half's bits come first.
    block.ones = HighBits(LowBitsReversed(second), LowBitsReversed(first));
    return block;
  }

  // The texts of four values (below 2^31, in the 64-bit lanes of `values`) at `texts`, 16 bytes
  // each: ten digits with their leading zeros, then the line end. The scalar way's steps, four
  // values at a time: the top two digits and two halves of four digits, each half split in two
  // numbers below 100 (in 16-bit lanes), each of those in its two digits.
  template <class LineEnd>
  [[gnu::target("avx2")]] static inline void FormatFour(__m256i values, char* texts) {
    const __m256i top =
        _mm256_srli_epi64(_mm256_mul_epu32(values, _mm256_set1_epi64x(0x55E63B89)), 57);
    const __m256i low =
        _mm256_sub_epi64(values, _mm256_mul_epu32(top, _mm256_set1_epi64x(100000000)));
    const __m256i upper =
        _mm256_srli_epi64(_mm256_mul_epu32(low, _mm256_set1_epi64x(0xD1B71759)), 45);
    const __m256i lower = _mm256_sub_epi64(low, _mm256_mul_epu32(upper, _mm256_set1_epi64x(10000)));
    // The 16-bit lanes of each value: upper half, lower half, top, 0.
    const __m256i packed = _mm256_or_si256(_mm256_or_si256(upper, _mm256_slli_epi64(lower, 16)),
                                           _mm256_slli_epi64(top, 32));
    // x / 100 for x below 10^4 is (x * 5243) >> 19.
    const __m256i hundreds =
        _mm256_srli_epi16(_mm256_mulhi_epu16(packed, _mm256_set1_epi16(5243)), 3);
    const __m256i rest =
        _mm256_sub_epi16(packed, _mm256_mullo_epi16(hundreds, _mm256_set1_epi16(100)));
    // Per value, 16-bit lanes of two digits each: the upper half's two, the lower half's two,
    // 00, top, 00, 00.
    const __m256i first =
        _mm256_unpacklo_epi16(TwoDigits(hundreds), TwoDigits(rest));  // values 0, 2
    const __m256i second =
        _mm256_unpackhi_epi16(TwoDigits(hundreds), TwoDigits(rest));  // values 1, 3
    const __m256i order = _mm256_setr_epi8(10, 11, 0, 1, 2, 3, 4, 5, 6, 7, -1, -1, -1, -1, -1, -1,
                                           10, 11, 0, 1, 2, 3, 4, 5, 6, 7, -1, -1, -1, -1, -1, -1);
    const __m256i characters = _mm256_broadcastsi128_si256(
        _mm_set_epi64x(static_cast<long long>(LineEnd::kBytes << 16 | 0x3030), 0x3030303030303030));
    const __m256i texts_1 = _mm256_or_si256(_mm256_shuffle_epi8(first, order), characters);
    const __m256i texts_2 = _mm256_or_si256(_mm256_shuffle_epi8(second, order), characters);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(texts),
                        _mm256_permute2x128_si256(texts_1, texts_2, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(texts + 32),
                        _mm256_permute2x128_si256(texts_1, texts_2, 0x31));
  }

  // Each 16-bit lane (below 100) as its two digits, the tens in the lower byte, from 0 to 9.
  [[gnu::target("avx2")]] static inline __m256i TwoDigits(__m256i pairs) {
    // x / 10 for x below 100 is (x * 6554) >> 16.
    const __m256i tens = _mm256_mulhi_epu16(pairs, _mm256_set1_epi16(6554));
    const __m256i ones = _mm256_sub_epi16(pairs, _mm256_mullo_epi16(tens, _mm256_set1_epi16(10)));
    return _mm256_or_si256(tens, _mm256_slli_epi16(ones, 8));
  }

  // How many decimal digits each value in the 64-bit lanes of `values` has.
  [[gnu::target("avx2")]] static inline __m256i DigitCounts(__m256i values) {
    __m256i counts = _mm256_set1_epi64x(1);
    for (unsigned power = 1; power < std::size(kPowersOfTen); ++power) {
      const __m256i below = _mm256_set1_epi64x(kPowersOfTen[power] - 1);
      counts = _mm256_sub_epi64(counts, _mm256_cmpgt_epi64(values, below));
    }
    return counts;
  }

  // Writes the lines of `values`, one after the other, at `out`; returns their end. Four values
  // are formatted at a time, and each text stored shifted past its leading zeros.
  template <class LineEnd>
  [[gnu::target("avx2")]] static inline char* WriteLines(const uint64_t* values, size_t count,
                                                         char* out) {
    alignas(32) char texts[4 * 16];
    alignas(32) uint64_t counts[4];
    for (size_t line = 0; line < count; line += 4) {
      __m256i four;
      if (count - line >= 4) [[likely]] {
        four = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(values + line));
      } else {
        uint64_t last[4] = {};
        std::memcpy(last, values + line, (count - line) * sizeof *values);
        four = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(last));
      }
      FormatFour<LineEnd>(four, texts);
      _mm256_store_si256(reinterpret_cast<__m256i*>(counts), DigitCounts(four));
      const size_t lines = std::min<size_t>(4, count - line);
      for (size_t i = 0; i < lines; ++i) {
        const __m128i text = _mm_load_si128(reinterpret_cast<const __m128i*>(texts + 16 * i));
        const __m128i shuffle =
            _mm_load_si128(reinterpret_cast<const __m128i*>(kSkipShuffles[counts[i]].data()));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(text, shuffle));
        out += counts[i] + LineEnd::kSize;
      }
    }
    return out;
  }

  [[gnu::target("popcnt")]] static inline unsigned RunLength(uint64_t run) {
    return static_cast<unsigned>(std::popcount(run));
  }
};
#endif

// ---- The scan, one loop for every path.

// The bits below `count` (at most 63).
inline uint64_t LowBits(uint64_t bits, unsigned count) {
  return bits & ((uint64_t{1} << count) - 1);
}

// Whether every byte from `at` to `end` is zero.
inline bool AllZero(const char* at, const char* end) {
  unsigned char seen = 0;
  for (; at < end; ++at) seen |= static_cast<unsigned char>(*at);
  return seen == 0;
}

// The digits of a line that lie in one block.
struct Piece {
  unsigned count;
  uint64_t bits;  // the digits in the lowest `count` bits, and anything above them
};

// The digits that `piece` marks, which a CR splits: digit by digit.
inline Piece TakeSplitPiece(uint64_t piece, uint64_t ones) {
  Piece split{0, 0};
  for (; piece != 0; piece &= piece - 1) {
    const auto at = static_cast<unsigned>(std::countr_zero(piece));
    split.bits = split.bits << 1 | ((ones >> (63 - at)) & 1);
    ++split.count;
  }
  return split;
}

// The digits that `piece` marks. Without a CR between them (`split` false) they are one run, whose
// last digit's bit in `ones` is as far from the lowest as the run's end is from the highest of
// `piece`.
template <class PathCode>
inline Piece TakePiece(uint64_t piece, uint64_t ones, bool split) {
  if (split) [[unlikely]]
    return TakeSplitPiece(piece, ones);
  return {PathCode::RunLength(piece), ones >> std::countl_zero(piece | 1)};
}

// Lines are written once this many are waiting; a block ends at most 32 more.
constexpr size_t kWaitingLines = 32;

// The line being read and where its decimals go, kept apart from the rest of the state so that
// the compiler can hold it in registers through the walk.
struct Walk {
  uint64_t value;
  uint64_t digits;
  uint64_t empty_lines;
  char* out;
  // The values of the lines ended and not yet written: each path writes them several at a time.
  uint64_t* values;
  size_t waiting;
};

// Adds the digits of `piece` to the line being read; false when that makes the line too long.
inline bool AddPiece(const Piece& piece, Walk& walk) {
  walk.digits += piece.count;
  if (walk.digits > kMaxLineDigits) [[unlikely]]
    return false;
  walk.value = walk.value << piece.count | LowBits(piece.bits, piece.count);
  return true;
}

// Takes the lines of one block up to the first byte that `before` leaves out; false when a line
// grew too long, which stops the walk there. `passed` is set to the LFs before the line where the
// walk stopped. `split` tells that a CR in the block may stand between two digits of a line.
template <class PathCode>
inline bool WalkBlock(const Block& block, uint64_t before, bool split, Walk& walk,
                      uint64_t& passed) {
  uint64_t digits = block.digits & before;
  passed = block.lf & before;
  for (uint64_t lf = passed; lf != 0; lf &= lf - 1) {
    const uint64_t below = (lf & (~lf + 1)) - 1;
    const uint64_t piece = digits & below;
    digits &= ~below;
    if (!AddPiece(TakePiece<PathCode>(piece, block.ones, split), walk)) [[unlikely]] {
      passed &= below;
      return false;
    }
    walk.values[walk.waiting] = walk.value;
    if (walk.digits != 0) [[likely]] {
      ++walk.waiting;
    } else {
      ++walk.empty_lines;
    }
    walk.value = 0;
    walk.digits = 0;
  }
  // The line goes on in the next block, or at the byte that `before` stopped at.
  return AddPiece(TakePiece<PathCode>(digits, block.ones, split), walk);
}

// Writes the lines waiting in `walk`; a scan that only checks the text (no line end) writes
// nothing and keeps no values.
template <class PathCode, class LineEnd>
inline void WriteWaiting(Walk& walk) {
  if constexpr (LineEnd::kSize != 0) {
    walk.out = PathCode::template WriteLines<LineEnd>(walk.values, walk.waiting, walk.out);
  }
  walk.waiting = 0;
}

template <class PathCode, class LineEnd>
inline char* Scan(State& state, const char* at, const char* const end, char* out) {
  uint64_t waiting_values[kWaitingLines + 64];
  Walk walk{state.value, state.digits, state.empty_lines, out, waiting_values, 0};
  while (at < end && state.fault == Fault::kNone) {
    if (state.zero_seen) {
      if (!AllZero(at, end)) state.fault = Fault::kNotBinary;
      break;
    }
    const auto size = static_cast<unsigned>(std::min<ptrdiff_t>(64, end - at));
    Block block;
    if (size == 64) [[likely]] {
      block = PathCode::Classify(at);
    } else {
      // The last bytes of the part, padded with CRs, which change nothing.
      char padded[64];
      std::memset(padded, '\r', sizeof padded);
      std::memcpy(padded, at, size);
      block = PathCode::Classify(padded);
    }
    // Every byte before the first one that is not a digit, CR or LF is taken from the masks.
    const uint64_t before =
        block.others == 0 ? ~uint64_t{0} : (block.others & (~block.others + 1)) - 1;
    if (!state.refused) {
      // A CR right before an LF, or as the last byte there is, splits no line's digits.
      const bool split = (block.cr & ~(block.lf >> 1) & LowBits(~uint64_t{0}, size - 1)) != 0;
      uint64_t passed;
      const bool went_on = WalkBlock<PathCode>(block, before, split, walk, passed);
      state.line += static_cast<uint64_t>(std::popcount(passed));
      if (!went_on) [[unlikely]] {
        if (state.stop_at_long_line) {
          state.fault = Fault::kLineTooLong;
          break;
        }
        state.refused = true;
        state.refused_line = state.line;
      }
    }
    if (walk.waiting >= kWaitingLines) WriteWaiting<PathCode, LineEnd>(walk);
    if (block.others != 0) [[unlikely]] {
      // The end of the text, if nothing but zero bytes follows; else not binary.
      const char* stray = at + std::countr_zero(block.others);
      if (*stray != '\0') {
        state.fault = Fault::kNotBinary;
        break;
      }
      state.zero_seen = true;
      at = stray + 1;
      continue;
    }
    at += size;
  }
  state.value = walk.value;
  state.digits = walk.digits;
  state.empty_lines = walk.empty_lines;
  WriteWaiting<PathCode, LineEnd>(walk);
  return walk.out;
}

// A line end known when the scan is compiled, so that it costs no register.
struct Lf {
  static constexpr uint64_t kBytes = '\n';
  static constexpr unsigned kSize = 1;
};
struct CrLf {
  static constexpr uint64_t kBytes = '\r' | '\n' << 8;
  static constexpr unsigned kSize = 2;
};
// No line end: nothing is written, the text is only checked.
struct NoText {
  static constexpr unsigned kSize = 0;
};

template <class LineEnd>
[[gnu::flatten]] char* ScanPortable(State& state, const char* at, const char* end, char* out) {
  return Scan<PortablePath, LineEnd>(state, at, end, out);
}

#if QUORVANE_HAS_AVX2_PATH
// Everything the scan calls is compiled into this function, for this target.
template <class LineEnd>
[[gnu::target("avx2,bmi,bmi2,popcnt"), gnu::flatten]] char* ScanAvx2(State& state, const char* at,
                                                                     const char* end, char* out) {
  return Scan<Avx2Path, LineEnd>(state, at, end, out);
}
#endif

Path AskedPath() {
  const char* asked = std::getenv("QUORVANE_CONVERTER");
  if (asked != nullptr) {
    for (Path path : LineConverter::kPaths) {
      if (LineConverter::Name(path) == asked && LineConverter::Supported(path)) return path;
    }
  }
  return LineConverter::Supported(Path::kAvx2) ? Path::kAvx2 : Path::kPortable;
}

}  // namespace

bool LineConverter::Supported(Path path) {
  switch (path) {
    case Path::kPortable:
      return true;
    case Path::kAvx2:
#if QUORVANE_HAS_AVX2_PATH && QUORVANE_HAS_GLIBC_CPU_FEATURES
      // The C library has read the features at start-up already; asking libgcc would read them
      // again with a dozen cpuid instructions, each a trap to the hypervisor on a virtual machine.
      return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(BMI2) &&
             CPU_FEATURE_ACTIVE(POPCNT);
#elif QUORVANE_HAS_AVX2_PATH
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
             __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
#else
      return false;
#endif
  }
  return false;
}

LineConverter::Path LineConverter::DefaultPath() {
  static const Path path = AskedPath();
  return path;
}

std::string_view LineConverter::Name(Path path) {
  return path == Path::kAvx2 ? "avx2" : "portable";
}

LineConverter::LineConverter(std::string_view line_end, LongLines long_lines, Path path)
    : path_(Supported(path) ? path : Path::kPortable) {
  state_.crlf = line_end == "\r\n";
  state_.check_only = line_end.empty();
  state_.stop_at_long_line = long_lines == LongLines::kStop;
  scan_ = state_.check_only ? ScanPortable<NoText>
          : state_.crlf     ? ScanPortable<CrLf>
                            : ScanPortable<Lf>;
#if QUORVANE_HAS_AVX2_PATH
  if (path_ == Path::kAvx2) {
    scan_ = state_.check_only ? ScanAvx2<NoText> : state_.crlf ? ScanAvx2<CrLf> : ScanAvx2<Lf>;
  }
#endif
}

char* LineConverter::Feed(std::string_view part, char* out) {
  return scan_(state_, part.data(), part.data() + part.size(), out);
}

char* LineConverter::Finish(char* out) {
  if (state_.fault != Fault::kNone || state_.refused || state_.digits == 0) return out;
  state_.last_line_written = true;
  if (state_.check_only) return out;
  const auto value = static_cast<uint32_t>(state_.value);
  const LineText text = MakeLineText(value, state_.crlf ? CrLf::kBytes : Lf::kBytes);
  PortablePath::Store(text, out);
  state_.value = 0;
  state_.digits = 0;
  return out + text.count + (state_.crlf ? CrLf::kSize : Lf::kSize);
}

namespace {

LinesVerdict VerdictOf(const LineConverter& converter) {
  LinesVerdict verdict;
  verdict.not_binary = converter.fault() == Fault::kNotBinary;
  verdict.line_too_long = converter.fault() == Fault::kLineTooLong;
  if (verdict.not_binary || verdict.line_too_long) {
    verdict.fault_line = converter.fault_line();
  } else {
    verdict.line_count = converter.line_count();
  }
  return verdict;
}

template <size_t kPart>
LinesVerdict ConvertInParts(std::string_view text,
                            const std::function<void(std::string_view)>& take,
                            LineConverter::Path path) {
  char out[LineConverter::OutputBound(kPart)];
  LineConverter converter("\r\n", LineConverter::LongLines::kRefuseText, path);
  for (size_t at = 0; at < text.size(); at += kPart) {
    const char* end = converter.Feed(text.substr(at, kPart), out);
    if (end != out) take({out, static_cast<size_t>(end - out)});
  }
  const char* end = converter.Finish(out);
  if (end != out) take({out, static_cast<size_t>(end - out)});
  return VerdictOf(converter);
}

}  // namespace

LinesVerdict ConvertLinesInParts(std::string_view text,
                                 const std::function<void(std::string_view)>& take,
                                 LineConverter::Path path) {
  // A short text's output fits in a few hundred bytes of the stack's warm pages; the full-size
  // buffer would reach 48 KiB down, into fresh pages that each cost a fault.
  constexpr size_t kShortText = 256;
  return text.size() <= kShortText ? ConvertInParts<kShortText>(text, take, path)
                                   : ConvertInParts<kTextPart>(text, take, path);
}

LinesVerdict CheckLines(std::string_view text, LineConverter::Path path) {
  LineConverter converter("", LineConverter::LongLines::kRefuseText, path);
  char nothing = 0;
  converter.Feed(text, &nothing);
  converter.Finish(&nothing);
  return VerdictOf(converter);
}

std::string_view TrimTrailingBreaks(std::string_view text) {
  size_t end = text.find_last_not_of("\r\n");
  return end == std::string_view::npos ? std::string_view() : text.substr(0, end + 1);
}

}  // namespace quorvane
