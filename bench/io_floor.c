/* The I/O floor of an automatic run: everything a run must do with files, and nothing else. It
 * reads the input whole into memory made ready in one call (a huge page where the input fills
 * nearly all of one, as quorvane's read buffer), writes a result computed beforehand to a new file
 * beside the result, puts it on the disk (fdatasync), renames it onto the result, puts the folder
 * on the disk (fsync) and deletes the input. No conversion, no lock, no lease, no checks: a run's
 * time over this one's is what converting and keeping the promises cost.
 *
 * Usage: io_floor INPUT RESULT PRECOMPUTED
 *   INPUT        the input file, deleted at the end
 *   RESULT       the result file, replaced through RESULT.floor-partial
 *   PRECOMPUTED  the bytes to write as the result (mapped, never converted)
 * Exit status: 0 done, 2 usage or I/O error.
 *
 * Built with WITH_JOURNAL (io_floor_journal), it also offers the system log one record at the end,
 * as every automatic run of quorvane does: where a log listens, the floor of a run that keeps its
 * journal. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <libgen.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef WITH_JOURNAL
#include "log_record.h"
#endif

static int fail(const char* what) {
  perror(what);
  return 2;
}

/* SIZE bytes of memory made ready for writing in one call; in a huge page where they fill at
 * least 31/32 of one. */
static char* ready_memory(size_t size) {
  const size_t huge = (size_t)2 << 20;
  const size_t page = 4096;
  const int use_huge = size % huge >= huge - huge / 32 || (size >= huge && size % huge == 0);
  const size_t length =
      use_huge ? (size + huge - 1) / huge * huge : (size + page - 1) / page * page;
  char* mapped =
      mmap(NULL, length + huge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) return NULL;
  char* aligned = (char*)(((uintptr_t)mapped + huge - 1) & ~(uintptr_t)(huge - 1));
  if (use_huge) madvise(aligned, length, MADV_HUGEPAGE);
  madvise(aligned, length, MADV_POPULATE_WRITE);
  return aligned;
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s INPUT RESULT PRECOMPUTED\n", argv[0]);
    return 2;
  }
  const char* input = argv[1];
  const char* result = argv[2];

  const int in = open(input, O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (in < 0 || fstat(in, &st) != 0) return fail(input);
  const size_t size = (size_t)st.st_size;
  char* text = ready_memory(size + 1);
  if (text == NULL) return fail("memory");
  size_t filled = 0;
  for (;;) {
    const ssize_t got = read(in, text + filled, size + 1 - filled);
    if (got < 0) return fail(input);
    if (got == 0) break;
    filled += (size_t)got;
  }
  if (filled != size) {
    fprintf(stderr, "%s: changed while read\n", input);
    return 2;
  }

  const int pre = open(argv[3], O_RDONLY | O_CLOEXEC);
  struct stat pre_st;
  if (pre < 0 || fstat(pre, &pre_st) != 0) return fail(argv[3]);
  const size_t length = (size_t)pre_st.st_size;
  const char* bytes =
      length == 0 ? "" : mmap(NULL, length, PROT_READ, MAP_SHARED | MAP_POPULATE, pre, 0);
  if (bytes == MAP_FAILED) return fail(argv[3]);

  char partial[4096];
  snprintf(partial, sizeof partial, "%s.floor-partial", result);
  const int out = open(partial, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (out < 0) return fail(partial);
  size_t written = 0;
  while (written < length) {
    const ssize_t wrote = write(out, bytes + written, length - written);
    if (wrote <= 0) return fail(partial);
    written += (size_t)wrote;
  }
  if (fdatasync(out) != 0 || close(out) != 0) return fail(partial);
  if (rename(partial, result) != 0) return fail(result);

  char folder_name[4096];
  snprintf(folder_name, sizeof folder_name, "%s", result);
  const int folder = open(dirname(folder_name), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0 || fsync(folder) != 0) return fail("result folder");
  close(folder);
  if (unlink(input) != 0) return fail(input);
  close(in);
#ifdef WITH_JOURNAL
  log_record("io_floor_journal");
#endif
  return 0;
}
