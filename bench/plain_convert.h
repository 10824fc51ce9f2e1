/* The conversion loop of the plain C benchmark programs (floor.c, yardstick.c, wine_floor.c): a
 * byte at a time, LF ends a line, CR is ignored wherever it stands, empty lines are skipped, and
 * each line's value is written in decimal followed by CR LF. Nothing else is checked but a line's
 * length. */
#ifndef QUORVANE_BENCH_PLAIN_CONVERT_H
#define QUORVANE_BENCH_PLAIN_CONVERT_H

#include <stddef.h>

enum { kPlainMaxDigits = 31 };

/* The most that plain_convert writes for SIZE bytes: "1" LF gives "1" CR LF, three bytes for two,
 * and a last line without LF up to two more. A macro: a static buffer may be sized by it. */
#define PLAIN_CONVERT_BOUND(size) ((size) + (size) / 2 + 2)

/* Converts the SIZE bytes at TEXT into OUT (PLAIN_CONVERT_BOUND(SIZE) bytes of room); returns the
 * number of bytes written, or (size_t)-1 when a line has more than kPlainMaxDigits digits. */
static inline size_t plain_convert(const unsigned char* text, size_t size, char* out) {
  char* const start = out;
  unsigned long value = 0;
  int digits = 0;
  for (size_t i = 0; i <= size; ++i) {
    const unsigned char c = i < size ? text[i] : '\n';
    if ((c & 0xFE) == '0') {
      value = value * 2 + (unsigned long)(c - '0');
      ++digits;
    } else if (c == '\n' && digits > 0) {
      if (digits > kPlainMaxDigits) return (size_t)-1;
      char reversed[10];
      int count = 0;
      do {
        reversed[count++] = (char)('0' + value % 10);
        value /= 10;
      } while (value != 0);
      while (count > 0) *out++ = reversed[--count];
      *out++ = '\r';
      *out++ = '\n';
      value = 0;
      digits = 0;
    }
  }
  return (size_t)(out - start);
}

#endif
