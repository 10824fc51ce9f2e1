// The C library's allocation functions, served from the startup heap until it is closed (before
// any library is loaded) or full, and by the C library's own allocator from then on. The GNU C
// library lets a program replace them this way (symbol interposition), on the condition that the
// whole family is replaced: each of them here accepts every block, whichever allocator made it.
// Only where the build has no sanitizer (QUORVANE_STARTUP_HEAP), whose runtime replaces the same
// functions. Compiled with -fno-builtin, so that the compiler never turns the code below into
// calls of itself.
#include <dlfcn.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/linux/startup_heap.h"

extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* block);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void* __libc_valloc(size_t size);
void* __libc_pvalloc(size_t size);
}

namespace quorvane {

#ifdef QUORVANE_STARTUP_HEAP
namespace {

// A run of --batch or --convert needs 3 to 130 KiB, 72 KiB of it the C++ runtime's reserve for
// exceptions, which is never touched. Untouched, the rest costs no memory.
// Placed after every other zero-filled variable, in x86-64's large-data section, which the linkers
// put last: those variables then share the few pages a run touches anyway, and the heap's pages,
// touched only as far as it is used, lie apart. Only where GCC builds for x86-64: elsewhere a
// section of that name may be stored in the file, 256 KiB of zeros.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define QUORVANE_AFTER_OTHER_ZEROED_DATA [[gnu::section(".lbss")]]
#else
#define QUORVANE_AFTER_OTHER_ZEROED_DATA
#endif
alignas(StartupHeap::kAlignment) QUORVANE_AFTER_OTHER_ZEROED_DATA char startup_memory[256 << 10];
constinit StartupHeap startup_heap(startup_memory, sizeof startup_memory);

// The C library's allocator starts on its first call, and takes for granted that no other thread
// calls it meanwhile: in a program of its own, the first allocation comes long before the first
// thread. Here it may come on any thread, when the startup heap fills up, so the first call is
// made alone; the others wait for it.
void StartLibraryAllocator() {
  enum { kNotStarted, kStarting, kStarted };
  static constinit std::atomic<int> state{kNotStarted};
  if (state.load(std::memory_order_acquire) == kStarted) return;
  int expected = kNotStarted;
  if (state.compare_exchange_strong(expected, kStarting, std::memory_order_acq_rel)) {
    __libc_free(__libc_malloc(1));
    state.store(kStarted, std::memory_order_release);
    return;
  }
  while (state.load(std::memory_order_acquire) != kStarted) ::sched_yield();
}

}  // namespace

void CloseStartupHeap() {
  startup_heap.Close();
  // Started on this thread, before the library about to be loaded starts threads of its own.
  StartLibraryAllocator();
}
#else
void CloseStartupHeap() {}  // the sanitizer's runtime owns the allocator
#endif

}  // namespace quorvane

#ifdef QUORVANE_STARTUP_HEAP

using quorvane::StartLibraryAllocator;
using quorvane::startup_heap;

extern "C" {

void* malloc(size_t size) {
  if (void* block = startup_heap.Allocate(size)) return block;
  StartLibraryAllocator();
  return __libc_malloc(size);
}

void free(void* block) {
  if (block == nullptr) return;
  if (startup_heap.Owns(block)) {
    startup_heap.Free(block);
  } else {
    __libc_free(block);
  }
}

void* calloc(size_t count, size_t size) {
  size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes)) {
    errno = ENOMEM;
    return nullptr;
  }
  // Memory given back may be handed out again, so it is cleared like any other.
  if (void* block = startup_heap.Allocate(bytes)) return std::memset(block, 0, bytes);
  StartLibraryAllocator();
  return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
  if (block == nullptr) return malloc(size);
  if (!startup_heap.Owns(block)) return __libc_realloc(block, size);
  if (startup_heap.ResizeInPlace(block, size)) return block;
  void* moved = malloc(size);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, block, startup_heap.SizeOf(block));
  startup_heap.Free(block);
  return moved;
}

void* reallocarray(void* block, size_t count, size_t size) {
  size_t bytes = 0;
  if (__builtin_mul_overflow(count, size, &bytes)) {
    errno = ENOMEM;
    return nullptr;
  }
  return realloc(block, bytes);
}

// Aligned blocks are rare and come from the C library's allocator, which free takes back.
void* memalign(size_t alignment, size_t size) {
  StartLibraryAllocator();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** result, size_t alignment, size_t size) {
  if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
    return EINVAL;
  }
  void* block = memalign(alignment, size);
  if (block == nullptr) return ENOMEM;
  *result = block;
  return 0;
}

void* valloc(size_t size) {
  StartLibraryAllocator();
  return __libc_valloc(size);
}

void* pvalloc(size_t size) {
  StartLibraryAllocator();
  return __libc_pvalloc(size);
}

size_t malloc_usable_size(void* block) {
  if (block == nullptr) return 0;
  if (startup_heap.Owns(block)) return startup_heap.SizeOf(block);
  // The C library's own answer for its own blocks; it has no other name to call it by.
  using UsableSize = size_t (*)(void*);
  static const auto library_usable_size =
      reinterpret_cast<UsableSize>(::dlsym(RTLD_NEXT, "malloc_usable_size"));
  return library_usable_size != nullptr ? library_usable_size(block) : 0;
}

}  // extern "C"

#endif  // QUORVANE_STARTUP_HEAP
