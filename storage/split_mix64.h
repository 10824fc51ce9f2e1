#pragma once

#include <cstdint>

namespace quorvane {

// SplitMix64: a tiny generator whose whole state is one word, so that seeding it costs nothing.
// Good for names that need to differ, not to be secret; the benchmarks' input comes from it too.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed = 0) : state_(seed) {}
  void Seed(uint64_t seed) { state_ = seed; }
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
  }

 private:
  uint64_t state_;
};

}  // namespace quorvane
