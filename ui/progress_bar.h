#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

namespace quorvane {

// How a bar that counts in int steps (a Win32 progress bar, a QProgressBar) shows a range of any
// size: up to INT_MAX as it is, a longer one divided down by a whole factor, so that every
// position keeps its place in it.
class BarScale {
 public:
  explicit BarScale(uint64_t maximum = 100)
      : maximum_(maximum), divisor_(maximum / static_cast<uint64_t>(INT_MAX) + 1) {}

  int maximum() const { return static_cast<int>(maximum_ / divisor_); }
  // A position past the range shows as its end.
  int Position(uint64_t position) const {
    return static_cast<int>(std::min(position, maximum_) / divisor_);
  }

 private:
  uint64_t maximum_;
  uint64_t divisor_;
};

}  // namespace quorvane
