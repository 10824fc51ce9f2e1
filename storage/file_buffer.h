#pragma once

#include <cstddef>

namespace quorvane {

// Room for a whole file's bytes that is cheap to fill. A page of fresh memory costs a page fault
// when it is first written, and a large file has hundreds of pages, so the memory is made ready
// ahead of the writes, as far as the writer says it will write: in one call for many pages, and in
// a huge page where the writer fills nearly all of one. Memory that is never asked for is never
// used, however large the capacity. Move-only.
class FileBuffer {
 public:
  FileBuffer() = default;
  explicit FileBuffer(size_t capacity);
  FileBuffer(FileBuffer&& other) noexcept;
  FileBuffer& operator=(FileBuffer&& other) noexcept;
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;
  ~FileBuffer();

  char* data() const { return data_; }
  size_t capacity() const { return capacity_; }
  // The bytes before this offset are ready to be written without a page fault (or as ready as
  // the system can make them).
  size_t ready() const { return ready_; }
  // Makes the bytes up to `end` ready (to the end of their page, or of their huge page).
  void Prepare(size_t end);

 private:
  void Free();

  char* data_ = nullptr;
  size_t capacity_ = 0;
  size_t ready_ = 0;
  size_t mapped_ = 0;  // how much was asked of the system, where that differs from the capacity
};

}  // namespace quorvane
