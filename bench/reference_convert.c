/* The reference for --convert's speed: about the least an x86-64 program with AVX2 and BMI2 can do
 * to turn lines of binary digits into lines of decimals. Standard input is read in parts of
 * 128 KiB, 64 bytes at a time are looked at through bit masks, each line's digits are read from a
 * mask in one step, and each decimal is written with one 16-byte store; standard output is written
 * a part at a time. Unlike quorvane it checks nothing: it trusts its input to be lines of 1 to 31
 * digits, each ended by LF, and a CR is taken for a digit. What quorvane does beyond this (every
 * byte checked, CR ignored anywhere, zero bytes, the first fault and its line) is the price of its
 * guarantees.
 *
 * Usage: reference_convert <INPUT >OUTPUT   (a benchmark program; never shipped)
 * Exit status: 0 done, 1 this machine lacks AVX2 or BMI2, 2 a read or write failed. */
#include <immintrin.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

enum { kPart = 128 * 1024 };

static const uint32_t kPowersOfTen[] = {1,      10,      100,      1000,      10000,
                                        100000, 1000000, 10000000, 100000000, 1000000000};

/* The 16-byte shuffles that drop the first 0 to 9 bytes of a register. */
static __m128i skip_leading[10];

/* Eight decimal digits of a value below 10^8, the first in the lowest byte. */
static inline uint64_t eight_digits(uint64_t value) {
  const uint64_t upper = value / 10000;
  const uint64_t fours = upper | (value - upper * 10000) << 32;
  const uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007F;
  const uint64_t twos = hundreds | (fours - hundreds * 100) << 16;
  const uint64_t tens = ((twos * 103) >> 10) & 0x000F000F000F000F;
  return (tens | (twos - tens * 10) << 8) | 0x3030303030303030;
}

__attribute__((target("avx2,bmi,bmi2"))) static inline char* write_line(uint64_t value, char* out) {
  const uint64_t top = value / 100000000;
  const uint64_t low = eight_digits(value - top * 100000000);
  const unsigned guess = ((64 - (unsigned)__builtin_clzll(value | 1)) * 1233) >> 12;
  const unsigned count = guess + ((value | 1) >= kPowersOfTen[guess]);
  const uint64_t first = (0x30 + top / 10) | (0x30 + top % 10) << 8 | low << 16;
  const uint64_t second = low >> 48 | (uint64_t)'\n' << 16;
  const __m128i text = _mm_set_epi64x((long long)second, (long long)first);
  _mm_storeu_si128((__m128i*)out, _mm_shuffle_epi8(text, skip_leading[10 - count]));
  return out + count + 1;
}

/* Converts the lines that end in [at, at + size) and returns the end of the output; `value` and
 * `digits` carry a line from one part to the next. */
__attribute__((target("avx2,bmi,bmi2"))) static char* convert(const char* at, size_t size,
                                                              char* out, uint64_t* value,
                                                              unsigned* digits) {
  const __m256i lf = _mm256_set1_epi8('\n');
  const __m256i reverse = _mm256_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 15,
                                           14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  uint64_t carried = *value;
  unsigned carried_digits = *digits;
  for (size_t block = 0; block < size; block += 64) {
    char padded[64];
    const char* bytes = at + block;
    size_t length = size - block < 64 ? size - block : 64;
    if (length < 64) {
      memset(padded, '\n', sizeof padded);
      memcpy(padded, bytes, length);
      bytes = padded;
    }
    const __m256i first = _mm256_loadu_si256((const __m256i*)bytes);
    const __m256i second = _mm256_loadu_si256((const __m256i*)(bytes + 32));
    uint64_t ends = (uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(first, lf)) |
                    (uint64_t)(uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi8(second, lf)) << 32;
    /* The low bit of each byte, the first byte's the highest. */
    const __m256i first_ones =
        _mm256_slli_epi16(_mm256_permute4x64_epi64(_mm256_shuffle_epi8(first, reverse), 0x4E), 7);
    const __m256i second_ones =
        _mm256_slli_epi16(_mm256_permute4x64_epi64(_mm256_shuffle_epi8(second, reverse), 0x4E), 7);
    const uint64_t ones = (uint32_t)_mm256_movemask_epi8(second_ones) |
                          (uint64_t)(uint32_t)_mm256_movemask_epi8(first_ones) << 32;
    if (length < 64) ends &= ((uint64_t)1 << length) - 1;
    unsigned start = 0;
    while (ends != 0) {
      const unsigned end = (unsigned)_tzcnt_u64(ends);
      ends = _blsr_u64(ends);
      const unsigned count = end - start;
      const uint64_t bits = _bzhi_u64(ones >> ((64 - end) & 63), count);
      const uint64_t line = carried << count | bits;
      if (carried_digits + count > 0) out = write_line(line, out);
      carried = 0;
      carried_digits = 0;
      start = end + 1;
    }
    if (length == 64 && start < 64) {
      const unsigned count = 64 - start;
      carried = carried << count | _bzhi_u64(ones, count);
      carried_digits += count;
    } else if (length < 64 && start < length) {
      const unsigned count = (unsigned)length - start;
      carried = carried << count | _bzhi_u64(ones >> (64 - (unsigned)length), count);
      carried_digits += count;
    }
  }
  *value = carried;
  *digits = carried_digits;
  return out;
}

static int write_all(const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t wrote = write(1, bytes, size);
    if (wrote <= 0) return 0;
    bytes += wrote;
    size -= (size_t)wrote;
  }
  return 1;
}

int main(void) {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi2")) {
    fputs("reference_convert: this machine lacks AVX2 or BMI2\n", stderr);
    return 1;
  }
  for (int skip = 0; skip < 10; ++skip) {
    char indices[16];
    for (int i = 0; i < 16; ++i) indices[i] = (char)(skip + i < 16 ? skip + i : 0x80);
    memcpy(&skip_leading[skip], indices, sizeof indices);
  }
  static char input[kPart];
  static char output[kPart + kPart / 2 + 32];
  uint64_t value = 0;
  unsigned digits = 0;
  for (;;) {
    const ssize_t got = read(0, input, sizeof input);
    if (got < 0) return 2;
    if (got == 0) break;
    const char* end = convert(input, (size_t)got, output, &value, &digits);
    if (!write_all(output, (size_t)(end - output))) return 2;
  }
  if (digits > 0) {
    char* end = write_line(value, output);
    if (!write_all(output, (size_t)(end - output))) return 2;
  }
  return 0;
}
