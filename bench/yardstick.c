/* The yardstick of the whole-process comparison: the least a program can do to convert a drop
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

#include "plain_convert.h"

enum { kMaxInput = 2077000 };

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

  char* result = malloc(PLAIN_CONVERT_BOUND(size));
  if (result == NULL) return 2;
  const size_t length = plain_convert((const unsigned char*)text, size, result);
  if (length == (size_t)-1) {
    fprintf(stderr, "%s: a line has more than %d digits\n", argv[1], kPlainMaxDigits);
    return 1;
  }

  FILE* dest = fopen(argv[2], "wb");
  if (dest == NULL) {
    perror(argv[2]);
    return 2;
  }
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
