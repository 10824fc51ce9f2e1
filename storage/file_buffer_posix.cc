#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <new>

#include "storage/file_buffer.h"

namespace quorvane {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;
constexpr size_t kPage = 4096;
// Below this a buffer is plain heap memory: a huge page would cost more to clear than the few
// page faults it saves.
constexpr size_t kMapFrom = size_t{512} << 10;
// How far ahead of the writes the memory is made ready at a time.
constexpr size_t kStretch = size_t{256} << 10;

}  // namespace

FileBuffer::FileBuffer(size_t capacity) : capacity_(capacity) {
  if (capacity < kMapFrom) {
    data_ = new char[capacity == 0 ? 1 : capacity];
    return;
  }
  // Aligned to a huge page, so that the kernel can back it with huge pages where it allows them;
  // the slack mapped for the alignment is given back at once.
  const size_t kept = (capacity + kHugePage - 1) / kHugePage * kHugePage;
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
#ifdef MADV_HUGEPAGE
  ::madvise(data_, mapped_, MADV_HUGEPAGE);
#endif
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
  const size_t until = std::min(mapped_, (end + kStretch + kPage - 1) / kPage * kPage);
#ifdef MADV_POPULATE_WRITE
  // One call puts a whole stretch in place (a huge page at once where the kernel gives one); a
  // kernel without it faults the pages in as they are written.
  ::madvise(data_ + ready_, until - ready_, MADV_POPULATE_WRITE);
#endif
  ready_ = until;
}

}  // namespace quorvane
