#include "automation/progress.h"

#include <algorithm>

namespace quorvane {

int ProgressPercent(uint64_t position, uint64_t total) {
  if (total == 0) return 0;
  return static_cast<int>(static_cast<double>(position) / static_cast<double>(total) * 100.0);
}

bool ProgressThrottle::Take(uint64_t position, uint64_t now_ms, bool last) {
  const uint64_t total = std::max<uint64_t>(total_, 1);
  const uint64_t cell = position * kBarCells / total;
  const int percent = ProgressPercent(position, total_);

  const uint64_t next_cell = ((cell + 1) * total + kBarCells - 1) / kBarCells;
  // Rounding in the percentage can move its step by one position either way, so the throttle
  // wakes one position early and then looks at each position until the step is passed.
  uint64_t next_percent = std::numeric_limits<uint64_t>::max();
  if (percent < 100) {
    uint64_t exact = ((static_cast<uint64_t>(percent) + 1) * total + 99) / 100;
    next_percent = exact > 0 ? exact - 1 : 0;
  }
  next_due_ = std::max(position + 1, std::min(next_cell, next_percent));

  if (shown_ && cell == cell_ && percent == percent_) return false;
  if (shown_ && !last && now_ms - shown_at_ms_ < kIntervalMs) return false;
  shown_ = true;
  shown_at_ms_ = now_ms;
  cell_ = cell;
  percent_ = percent;
  return true;
}

}  // namespace quorvane
