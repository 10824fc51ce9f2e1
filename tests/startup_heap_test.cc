#include "platform/linux/startup_heap.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace quorvane {
namespace {

bool Aligned(const void* block) {
  return reinterpret_cast<uintptr_t>(block) % StartupHeap::kAlignment == 0;
}

TEST(StartupHeapTest, BlocksAreAlignedApartAndKeepTheirSize) {
  alignas(StartupHeap::kAlignment) static char memory[4096];
  StartupHeap heap(memory, sizeof memory);
  char* end_of_last = memory;
  for (size_t size : {0, 1, 15, 16, 17, 100, 1000}) {
    SCOPED_TRACE(size);
    char* block = static_cast<char*>(heap.Allocate(size));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(Aligned(block));
    EXPECT_GE(block, end_of_last);  // no block overlaps an earlier one
    EXPECT_TRUE(heap.Owns(block));
    EXPECT_EQ(heap.SizeOf(block), size);
    std::memset(block, 0xA5, size);
    end_of_last = block + (size == 0 ? 1 : size);
  }
}

TEST(StartupHeapTest, OnlyTheNewestBlockGivesItsMemoryBack) {
  alignas(StartupHeap::kAlignment) static char memory[4096];
  StartupHeap heap(memory, sizeof memory);
  void* older = heap.Allocate(40);
  void* newest = heap.Allocate(40);
  heap.Free(newest);
  EXPECT_EQ(heap.Allocate(40), newest);
  heap.Free(older);  // not the newest: stays taken
  EXPECT_NE(heap.Allocate(40), older);
}

TEST(StartupHeapTest, ResizesInPlaceOnlyWhereNothingFollows) {
  alignas(StartupHeap::kAlignment) static char memory[4096];
  StartupHeap heap(memory, sizeof memory);
  char* first = static_cast<char*>(heap.Allocate(32));
  char* second = static_cast<char*>(heap.Allocate(32));
  EXPECT_FALSE(heap.ResizeInPlace(first, 64));  // would run into `second`
  EXPECT_TRUE(heap.ResizeInPlace(first, 8));    // a shrink always stays
  EXPECT_EQ(heap.SizeOf(first), 8u);
  EXPECT_TRUE(heap.ResizeInPlace(second, 512));
  EXPECT_EQ(heap.SizeOf(second), 512u);
  EXPECT_GE(static_cast<char*>(heap.Allocate(1)), second + 512);
  EXPECT_FALSE(heap.ResizeInPlace(second, 8192));  // past the end
}

// A block of a page or more ends on a page boundary, so that the small blocks after it share a
// fresh page; it still resizes in place only while nothing follows it, gives everything back when
// freed as the newest, and never ends past the heap.
TEST(StartupHeapTest, ALargeBlockEndsOnAPageBoundary) {
  constexpr size_t kPage = StartupHeap::kPageSize;
  alignas(kPage) static char memory[8 * kPage];
  StartupHeap heap(memory + 64, sizeof memory - 64);
  char* large = static_cast<char*>(heap.Allocate(2 * kPage + 100));
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(heap.SizeOf(large), 2 * kPage + 100);
  char* small = static_cast<char*>(heap.Allocate(40));
  EXPECT_EQ(small, memory + 3 * kPage + 16);           // the next page, after the block's size
  EXPECT_FALSE(heap.ResizeInPlace(large, 3 * kPage));  // would run into `small`
  heap.Free(small);
  EXPECT_TRUE(heap.ResizeInPlace(large, 3 * kPage + 1));
  EXPECT_EQ(heap.Allocate(40), memory + 4 * kPage + 16);

  StartupHeap fresh(memory + 64, sizeof memory - 64);
  fresh.Free(fresh.Allocate(kPage));
  EXPECT_EQ(fresh.Allocate(16), memory + 64 + 16);  // all of it back

  StartupHeap short_of_a_page(memory + 64, sizeof memory - 128);
  EXPECT_NE(short_of_a_page.Allocate(sizeof memory - 768), nullptr);
  EXPECT_EQ(short_of_a_page.Allocate(0), nullptr);  // it ended where the heap does
}

TEST(StartupHeapTest, ServesNothingWhenFullOrClosed) {
  alignas(StartupHeap::kAlignment) static char memory[256];
  StartupHeap heap(memory, sizeof memory);
  EXPECT_EQ(heap.Allocate(SIZE_MAX), nullptr);
  EXPECT_EQ(heap.Allocate(256), nullptr);  // no room for its size beside it
  void* block = heap.Allocate(100);
  ASSERT_NE(block, nullptr);
  int more = 0;
  while (heap.Allocate(16) != nullptr) ++more;
  EXPECT_EQ(more, 4);  // 256 bytes: 128 for the first block, 32 for each of these
  EXPECT_FALSE(heap.Owns(memory + sizeof memory));

  StartupHeap closing(memory, sizeof memory);
  void* before = closing.Allocate(16);
  closing.Close();
  EXPECT_EQ(closing.Allocate(16), nullptr);
  EXPECT_FALSE(closing.ResizeInPlace(before, 64));
  EXPECT_TRUE(closing.ResizeInPlace(before, 8));
  closing.Free(before);
  EXPECT_EQ(closing.Allocate(16), nullptr);
}

// Threads that take and give back blocks at once never get the same memory: each block keeps
// what its thread wrote into it until that thread frees it.
TEST(StartupHeapTest, ThreadsNeverShareABlock) {
  alignas(StartupHeap::kAlignment) static char memory[4 << 20];
  StartupHeap heap(memory, sizeof memory);
  std::vector<int> overwritten(4, 0);
  std::vector<std::thread> threads;
  for (int thread = 0; thread < 4; ++thread) {
    threads.emplace_back([&heap, &overwritten, thread] {
      const auto mark = static_cast<unsigned char>(thread + 1);
      for (int round = 0; round < 2'000; ++round) {
        std::vector<std::pair<unsigned char*, size_t>> live;
        for (int block = 0; block < 8; ++block) {
          const size_t size = 16 + static_cast<size_t>((round + block * 7 + thread) % 48);
          if (auto* taken = static_cast<unsigned char*>(heap.Allocate(size))) {
            std::memset(taken, mark, size);
            live.emplace_back(taken, size);
          }
        }
        // Newest first, so that memory goes back while other threads take theirs.
        for (auto it = live.rbegin(); it != live.rend(); ++it) {
          for (size_t at = 0; at < it->second; ++at) overwritten[thread] += it->first[at] != mark;
          heap.Free(it->first);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(overwritten, std::vector<int>(4, 0));
}

#ifdef QUORVANE_STARTUP_HEAP
// The C library's allocation functions as the startup heap serves them in this program too.
TEST(StartupHeapTest, TheAllocationFunctionsKeepTheirPromises) {
  // Only the startup heap tells an odd size exactly (the C library rounds it up). CTest runs each
  // test in a process of its own, where the heap is still open; a run of the whole binary fills
  // it first.
  auto* first = static_cast<unsigned char*>(std::malloc(37));
  if (malloc_usable_size(first) != 37) {
    std::free(first);
    GTEST_SKIP() << "the startup heap is full already: run this test alone";
  }

  // Threads that fill the heap meet the C library's allocator at once, and it takes for granted
  // that its start is made on one thread alone: started twice, it aborts when a thread ends.
  // Each child process meets it afresh, with the heap as open as it is here.
  for (int child = 0; child < 10; ++child) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      std::vector<std::thread> threads;
      for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([] {
          for (int round = 0; round < 2'000; ++round) {
            std::vector<void*> taken;
            for (size_t block = 0; block < 8; ++block) taken.push_back(std::malloc(16 + block * 8));
            for (auto it = taken.rbegin(); it != taken.rend(); ++it) std::free(*it);
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "child " << child << ": " << status;
  }
  std::memset(first, 0xA5, 37);
  std::free(first);
  // Memory given back comes out of calloc cleared.
  auto* cleared = static_cast<unsigned char*>(std::calloc(37, 1));
  EXPECT_EQ(cleared, first);
  EXPECT_TRUE(std::all_of(cleared, cleared + 37, [](unsigned char byte) { return byte == 0; }));
  std::memset(cleared, 0x5A, 37);

  // realloc keeps the bytes, whether the block stays where it is, moves within the startup heap,
  // or moves to the C library's heap.
  struct Row {
    size_t size;
    bool something_follows;  // another block is taken after it first
    bool stays;
  };
  unsigned char* block = cleared;
  void* follower = nullptr;
  for (const Row& row : {Row{80, false, true}, Row{8, false, true}, Row{200, true, false},
                         Row{size_t{1} << 20, false, false}}) {
    // (No trace here: it would take a block after this one.)
    if (row.something_follows) follower = std::malloc(16);
    auto* resized = static_cast<unsigned char*>(std::realloc(block, row.size));
    ASSERT_NE(resized, nullptr) << row.size;
    EXPECT_EQ(resized == block, row.stays) << row.size;
    EXPECT_TRUE(std::all_of(resized, resized + 8, [](unsigned char byte) { return byte == 0x5A; }))
        << row.size;
    EXPECT_GE(malloc_usable_size(resized), row.size) << row.size;
    block = resized;
  }
  std::free(follower);
  std::free(block);
  // A count and size whose product overflows get nothing, never a block of the product's rest.
  const volatile size_t count = SIZE_MAX / 2;
  EXPECT_EQ(std::calloc(count, 4), nullptr);

  void* aligned = nullptr;
  EXPECT_EQ(posix_memalign(&aligned, 0, 16), EINVAL);
  EXPECT_EQ(posix_memalign(&aligned, 24, 16), EINVAL);
  ASSERT_EQ(posix_memalign(&aligned, 64, 16), 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(aligned) % 64, 0u);
  std::free(aligned);
}
#endif

}  // namespace
}  // namespace quorvane
