#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quorvane {

// Memory for the first allocations of the process, handed out from a block of its own. Starting
// the C library's allocator (its first break of the data segment, its random key, its first heap
// page) costs a 5-byte automatic run about 3% of its time, and such a run needs a few KiB.
// Blocks come one after another; freeing a block gives its memory back only while it is the
// newest, which is how the short-lived ones come and go. Once closed or full it serves nothing
// more, and the C library's allocator takes over; its blocks stay valid to the end. Safe to use
// from several threads.
class StartupHeap {
 public:
  static constexpr size_t kAlignment = 16;  // what malloc promises on x86-64
  // A block of at least a page ends on a page boundary. The large blocks of a short run (the C++
  // runtime's 72 KiB reserve for exceptions) are hardly touched past their first bytes, and the
  // small blocks after one then fill one fresh page instead of straddling two.
  static constexpr size_t kPageSize = 4096;

  // `memory` is aligned to kAlignment and lives as long as the heap.
  constexpr StartupHeap(char* memory, size_t size)
      : begin_(memory), end_(memory + size), top_(memory) {}

  // A block of at least `size` bytes, aligned to kAlignment; nullptr when closed or full.
  void* Allocate(size_t size) {
    if (closed_.load(std::memory_order_relaxed) || size > Capacity()) return nullptr;
    const size_t span = sizeof(Header) + Rounded(size);
    char* top = top_.load(std::memory_order_relaxed);
    do {
      if (static_cast<size_t>(end_ - top) < span) return nullptr;
    } while (!top_.compare_exchange_weak(top, EndOf(top + sizeof(Header), size),
                                         std::memory_order_acq_rel, std::memory_order_relaxed));
    reinterpret_cast<Header*>(top)->size = size;
    return top + sizeof(Header);
  }

  bool Owns(const void* block) const {
    const char* at = static_cast<const char*>(block);
    return at >= begin_ && at < end_;
  }

  // The size asked for when the block was made (or last resized).
  size_t SizeOf(const void* block) const { return HeaderOf(block).size; }

  void Free(void* block) {
    GiveBack(EndOf(block, SizeOf(block)), static_cast<char*>(block) - sizeof(Header));
  }

  // Resizes `block` where it stands: a shrink always; a growth only of the newest block, while
  // the heap is open and has room. False when the caller must move it.
  bool ResizeInPlace(void* block, size_t size) {
    Header& header = HeaderOf(block);
    char* const start = static_cast<char*>(block);
    char* const end = EndOf(start, header.size);
    if (size <= header.size) {
      GiveBack(end, EndOf(start, size));
      header.size = size;
      return true;
    }
    if (closed_.load(std::memory_order_relaxed) || size > Capacity() ||
        static_cast<size_t>(end_ - start) < Rounded(size)) {
      return false;
    }
    char* const new_end = EndOf(start, size);
    char* expected = end;
    if (!top_.compare_exchange_strong(expected, new_end, std::memory_order_acq_rel,
                                      std::memory_order_relaxed)) {
      return false;
    }
    header.size = size;
    return true;
  }

  void Close() { closed_.store(true, std::memory_order_relaxed); }

 private:
  struct alignas(kAlignment) Header {
    size_t size;
  };

  size_t Capacity() const { return static_cast<size_t>(end_ - begin_) - sizeof(Header); }
  // Every block takes at least one unit, so that no block starts where the heap ends.
  static size_t Rounded(size_t size) {
    return size == 0 ? kAlignment : (size + kAlignment - 1) & ~(kAlignment - 1);
  }
  static Header& HeaderOf(const void* block) {
    return *reinterpret_cast<Header*>(static_cast<char*>(const_cast<void*>(block)) -
                                      sizeof(Header));
  }
  // Where a block of `size` bytes at `block` ends: past its rounded size, and for a block of a
  // page or more at the next page boundary, within the heap.
  char* EndOf(void* block, size_t size) const {
    char* const end = static_cast<char*>(block) + Rounded(size);
    if (size < kPageSize) return end;
    const uintptr_t page_end =
        (reinterpret_cast<uintptr_t>(end) + kPageSize - 1) & ~(kPageSize - 1);
    return end + std::min(page_end - reinterpret_cast<uintptr_t>(end),
                          static_cast<uintptr_t>(end_ - end));
  }
  // The memory from `from` to `end` goes back when `end` is the top, that is, when nothing was
  // handed out after it.
  void GiveBack(char* end, char* from) {
    char* expected = end;
    top_.compare_exchange_strong(expected, from, std::memory_order_acq_rel,
                                 std::memory_order_relaxed);
  }

  char* const begin_;
  char* const end_;
  std::atomic<char*> top_;
  std::atomic<bool> closed_{false};
};

// The executable's own startup heap, which serves the C library's allocation functions (where
// the build has no sanitizer, whose runtime replaces them). Closed before a library is loaded:
// from then on the process runs long enough for the C library's allocator, which reuses what is
// freed, to pay for its start.
void CloseStartupHeap();

}  // namespace quorvane
