#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace quorvane {

// The whole percentage shown for `position` out of `total`: the division first, then times 100,
// in double precision and truncated, so 29 of 100 shows 28.
int ProgressPercent(uint64_t position, uint64_t total);

// "進捗率　" (with an ideographic space), the percentage and " %".
std::string ProgressText(int percent);

// Tells which progress positions would change what the user sees, so that a long run skips the
// rest. Two positions look the same when they fall into the same one of kBarCells cells of the
// bar (no bar is that many pixels wide) and show the same percentage. When the total is below
// kBarCells every position is shown.
class ProgressThrottle {
 public:
  static constexpr uint64_t kBarCells = 4096;

  explicit ProgressThrottle(uint64_t total) : total_(total) {}

  // No position below this one can change the picture.
  uint64_t next_due() const { return next_due_; }

  // Whether `position` changes the picture since the last position that did; the first always
  // does.
  bool Take(uint64_t position);

 private:
  uint64_t total_;
  uint64_t next_due_ = 0;
  bool shown_ = false;
  uint64_t cell_ = 0;
  int percent_ = 0;
};

}  // namespace quorvane
