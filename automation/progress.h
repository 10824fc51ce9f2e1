#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace quorvane {

// The whole percentage shown for `position` out of `total`: the division first, then times 100,
// in double precision and truncated, so 29 of 100 shows 28.
int ProgressPercent(uint64_t position, uint64_t total);

// The steps of a drop-folder run's progress for an input text of N characters (counted before its
// trailing line breaks are trimmed) and K non-empty lines. While splitting: one step per
// character, out of 3 × (N + 1). From the conversion on, out of R = N + K + 4: one step per line,
// one when all lines are converted, one when the input file is deleted, and the last, R itself.
struct ProgressSchedule {
  uint64_t characters = 0;  // N
  uint64_t lines = 0;       // K

  uint64_t SplitTotal() const { return 3 * (characters + 1); }
  uint64_t ConvertTotal() const { return characters + lines + 4; }
  uint64_t AfterLine(uint64_t index) const { return characters + 1 + index; }
  uint64_t AfterAllLines() const { return characters + lines + 2; }
  uint64_t AfterDeletion() const { return characters + lines + 3; }
  uint64_t Done() const { return ConvertTotal(); }
};

// Tells which progress positions to show, so that a long run skips what no one could see. A
// position is worth showing when it changes the picture: another of kBarCells cells of the bar
// (no bar is that many pixels wide) or another percentage. Of those, the first and the last of a
// stretch are always shown, the rest only when kInterval milliseconds have passed since the last
// one shown: more often than a screen refreshes, no one sees them, and each costs a round trip to
// the window system (under Wine, to the wineserver).
class ProgressThrottle {
 public:
  static constexpr uint64_t kBarCells = 4096;
  static constexpr uint64_t kIntervalMs = 16;

  explicit ProgressThrottle(uint64_t total) : total_(total) {}

  // No position below this one can change the picture.
  uint64_t next_due() const { return next_due_; }

  // Whether to show `position` at `now_ms` (a steady clock in milliseconds): the first position
  // taken always; any other only when it changes the picture, and then one taken as `last` at
  // once, the rest once kIntervalMs have passed.
  bool Take(uint64_t position, uint64_t now_ms, bool last = false);

 private:
  uint64_t total_;
  uint64_t next_due_ = 0;
  bool shown_ = false;
  uint64_t cell_ = 0;
  int percent_ = 0;
  uint64_t shown_at_ms_ = 0;
};

}  // namespace quorvane
