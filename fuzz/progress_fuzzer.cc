// The progress throttle over any total: from any starting position, every position it passes over
// must look exactly like the last one shown (same cell of the bar, same percentage), and, with
// time passing, every position it takes must report a change exactly when the picture changes.
// Both the cell and the percentage only grow with the position, so a skipped stretch looks the
// same throughout when its last position does; that keeps the check cheap for totals in the
// billions. A second throttle over the same positions, with time standing still, shows only the
// first and the one taken as the last.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "automation/progress.h"
#include "fuzz/fuzz_check.h"

namespace {

using Picture = std::pair<uint64_t, int>;

Picture PictureAt(uint64_t position, uint64_t total) {
  return {position * quorvane::ProgressThrottle::kBarCells / total,
          quorvane::ProgressPercent(position, total)};
}

uint64_t Take64(const uint8_t*& data, size_t& size) {
  uint64_t value = 0;
  const size_t n = std::min(size, sizeof value);
  std::memcpy(&value, data, n);
  data += n;
  size -= n;
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Totals up to 2^40 keep position * kBarCells within 64 bits, far beyond any input file.
  const uint64_t total = 1 + Take64(data, size) % (uint64_t{1} << 40);
  const uint64_t start = Take64(data, size) % (total + 1);
  quorvane::ProgressThrottle throttle(total);
  quorvane::ProgressThrottle still(total);
  uint64_t now_ms = 0;

  FUZZ_CHECK(throttle.Take(start, now_ms));  // the first position is always shown
  FUZZ_CHECK(still.Take(start, 0));
  Picture shown = PictureAt(start, total);
  uint64_t position = start + 1;
  for (int steps = 0; steps < 5000 && position <= total; ++steps) {
    const uint64_t due = std::max(position, throttle.next_due());
    FUZZ_CHECK(throttle.next_due() >= position);  // never asks to go back
    if (due > position) {
      const uint64_t last_skipped = std::min(due - 1, total);
      FUZZ_CHECK(PictureAt(last_skipped, total) == shown);
    }
    if (due > total) break;
    const Picture now = PictureAt(due, total);
    now_ms += quorvane::ProgressThrottle::kIntervalMs;
    FUZZ_CHECK(throttle.Take(due, now_ms) == (now != shown));
    FUZZ_CHECK(!still.Take(due, 0));
    shown = now;
    position = due + 1;
  }
  // Taken as the last, a position is shown at once if it changes the picture.
  if (position <= total) {
    FUZZ_CHECK(still.Take(total, 0, true) == (PictureAt(total, total) != PictureAt(start, total)));
  }
  return 0;
}
