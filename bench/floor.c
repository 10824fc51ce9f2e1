/* The floor of the whole-process comparison: the plainest fast C program that does an automatic
 * run's work and puts its result on the disk. It maps the input with its pages faulted in at once,
 * converts every line (LF ends a line, CR is ignored wherever it stands, empty lines are skipped)
 * into an output buffer that is faulted in before use (in huge pages where the kernel gives them),
 * writes it with one call and flushes it with fdatasync. No lock, no temporary
 * file, no checks beyond a line's length: what quorvane does beyond this is the price of its
 * guarantees.
 *
 * Usage: floor INPUT OUTPUT
 * Exit status: 0 done, 1 line of more than 31 digits (nothing written), 2 usage or I/O error. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "plain_convert.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  int in = open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) {
    perror(argv[1]);
    return 2;
  }
  const size_t size = (size_t)st.st_size;
  const unsigned char* text = size == 0
                                  ? (const unsigned char*)""
                                  : mmap(NULL, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, in, 0);
  if (text == MAP_FAILED) return 2;
  close(in);

  const size_t huge = (size_t)2 << 20;
  const size_t room = (PLAIN_CONVERT_BOUND(size) + huge - 1) / huge * huge;
  char* mapped =
      mmap(NULL, room + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return 2;
  char* result = (char*)(((uintptr_t)mapped + huge - 1) & ~(uintptr_t)(huge - 1));
  madvise(result, room, MADV_HUGEPAGE);
  madvise(result, room, MADV_POPULATE_WRITE);
  const size_t length = plain_convert(text, size, result);
  if (length == (size_t)-1) return 1;

  int dest = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (dest < 0 || write(dest, result, length) != (ssize_t)length || fdatasync(dest) != 0 ||
      close(dest) != 0) {
    perror(argv[2]);
    return 2;
  }
  return 0;
}
