#include <algorithm>

#include "storage/file_buffer.h"

namespace quorvane {

// Windows commits fresh pages as they are first written; the buffer is plain memory there.
FileBuffer::FileBuffer(size_t capacity)
    : data_(new char[capacity == 0 ? 1 : capacity]), capacity_(capacity) {}

void FileBuffer::Free() {
  delete[] data_;
  data_ = nullptr;
}

void FileBuffer::Prepare(size_t end) { ready_ = std::max(ready_, std::min(end, capacity_)); }

}  // namespace quorvane
