#include "storage/file_buffer.h"

#include <utility>

namespace quorvane {

FileBuffer::FileBuffer(FileBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      capacity_(std::exchange(other.capacity_, 0)),
      ready_(std::exchange(other.ready_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
  if (this != &other) {
    Free();
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    ready_ = std::exchange(other.ready_, 0);
    mapped_ = std::exchange(other.mapped_, 0);
  }
  return *this;
}

FileBuffer::~FileBuffer() { Free(); }

}  // namespace quorvane
