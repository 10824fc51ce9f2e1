/* The yardstick of the whole-process comparison: the least a program can do to convert a batch
 * file. It reads the input whole, splits it into lines (LF ends a line, CR is ignored wherever it
 * stands, empty lines are skipped), writes each line's value in decimal followed by CR LF, and
 * exits. Plain stdio; the result is put on the disk with fsync only when asked (--fsync), so that
 * the comparison can be made both with and without the cost of a crash-safe write.
 *
 * Usage: yardstick INPUT OUTPUT [--fsync]
 * Exit status: 0 done, 1 line of more than 31 digits (nothing written), 2 usage or I/O error. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { kMaxDigits = 31, kMaxInput = 2077000 };

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4 || (argc == 4 && strcmp(argv[3], "--fsync") != 0)) {
    fprintf(stderr, "usage: %s INPUT OUTPUT [--fsync]\n", argv[0]);
    return 2;
  }
  const int sync = argc == 4;

  FILE* in = fopen(argv[1], "rb");
  if (in == NULL) {
    perror(argv[1]);
    return 2;
  }
  static char text[kMaxInput + 1];
  size_t size = fread(text, 1, sizeof text, in);
  fclose(in);
  if (size > kMaxInput) {
    fprintf(stderr, "%s: more than %d bytes\n", argv[1], kMaxInput);
    return 2;
  }

  /* At most one output line of 12 bytes for every 2 input bytes: "1" LF gives "1" CR LF, and a
   * longer line gives no more than 10 digits and CR LF. */
  char* result = malloc(size / 2 * 12 + 12);
  if (result == NULL) return 2;
  char* out = result;
  unsigned long value = 0;
  int digits = 0;
  for (size_t i = 0; i <= size; ++i) {
    char c = i < size ? text[i] : '\n';
    if (c == '0' || c == '1') {
      value = value * 2 + (unsigned long)(c - '0');
      ++digits;
    } else if (c == '\n' && digits > 0) {
      if (digits > kMaxDigits) {
        fprintf(stderr, "%s: a line has more than %d digits\n", argv[1], kMaxDigits);
        return 1;
      }
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

  FILE* dest = fopen(argv[2], "wb");
  if (dest == NULL) {
    perror(argv[2]);
    return 2;
  }
  size_t length = (size_t)(out - result);
  int ok = fwrite(result, 1, length, dest) == length && fflush(dest) == 0;
  if (ok && sync) ok = fsync(fileno(dest)) == 0;
  ok = fclose(dest) == 0 && ok;
  free(result);
  if (!ok) {
    perror(argv[2]);
    return 2;
  }
  return 0;
}
