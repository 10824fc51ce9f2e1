#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "storage/file_buffer.h"

namespace quorvane {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;
// Below this a buffer is plain heap memory: a few pages, not worth a mapping of their own.
constexpr size_t kMapFrom = size_t{64} << 10;
// A huge page is taken for a stretch that the bytes asked for fill at least this far: clearing
// one costs about what faulting in a fifth of its small pages does, but it all counts as used.
constexpr size_t kHugePageFill = kHugePage - kHugePage / 32;

size_t RoundUp(size_t size, size_t unit) { return (size + unit - 1) / unit * unit; }

}  // namespace

FileBuffer::FileBuffer(size_t capacity) : capacity_(capacity) {
  if (capacity < kMapFrom) {
    data_ = new char[capacity == 0 ? 1 : capacity];
    return;
  }
  // Address space only, aligned to a huge page so that Prepare may ask for one; the slack mapped
  // for the alignment is given back at once. Nothing is used until Prepare or a write.
  const size_t kept = RoundUp(capacity, kHugePage);
  const size_t asked = kept + kHugePage;
  void* map = ::mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (map == MAP_FAILED) throw std::bad_alloc();
  auto* start = static_cast<char*>(map);
  auto* aligned = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(start) + kHugePage - 1) &
                                          ~(uintptr_t{kHugePage} - 1));
  const auto before = static_cast<size_t>(aligned - start);
  if (before > 0) ::munmap(start, before);
  if (asked - before > kept) ::munmap(aligned + kept, asked - before - kept);
  data_ = aligned;
  mapped_ = kept;
}

void FileBuffer::Free() {
  if (mapped_ != 0) {
    ::munmap(data_, mapped_);
  } else {
    delete[] data_;
  }
  data_ = nullptr;
}

void FileBuffer::Prepare(size_t end) {
  if (end <= ready_) return;
  if (mapped_ == 0) {
    ready_ = capacity_;
    return;
  }
  size_t until = std::min(mapped_, RoundUp(end, kPage));
#ifdef MADV_HUGEPAGE
  // A huge page for each stretch not yet begun that the bytes asked for fill nearly whole: one
  // page to clear instead of hundreds to fault in. A stretch that is only partly asked for (a
  // result whose size is not known yet) stays in small pages, so that memory follows the writes.
  for (size_t stretch = RoundUp(ready_, kHugePage);
       stretch + kHugePage <= mapped_ && end >= stretch + kHugePageFill; stretch += kHugePage) {
    ::madvise(data_ + stretch, kHugePage, MADV_HUGEPAGE);
    until = std::max(until, stretch + kHugePage);
  }
#endif
#ifdef MADV_POPULATE_WRITE
  // One call puts the pages in place; a first write to a page would fault it in alone, which
  // costs many times more. A kernel without it faults the pages in as they are written.
  ::madvise(data_ + ready_, until - ready_, MADV_POPULATE_WRITE);
#endif
  ready_ = until;
}

}  // namespace quorvane
