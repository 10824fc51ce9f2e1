#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvane::bench {

// The largest input a run accepts, and the size of the benchmark input.
inline constexpr size_t kBenchInputSize = 2077000;

// SplitMix64 with the seed that make_input.py uses.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed = 0x51756F7276616E65) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
    return z ^ (z >> 31);
  }

 private:
  uint64_t state_;
};

// The benchmark input, byte for byte what `make_input.py FILE size` writes: random lines of 1 to
// 31 binary digits, each ended by CR LF, the last one ending exactly at `size` bytes (size >= 3).
inline std::string MakeBenchInput(size_t size = kBenchInputSize) {
  constexpr size_t kMaxDigits = 31;
  SplitMix64 rng;
  std::string out;
  out.reserve(size);
  auto line = [&](size_t count) {
    uint64_t bits = rng.Next();
    for (size_t i = 0; i < count; ++i) out.push_back(static_cast<char>('0' + ((bits >> i) & 1)));
    out += "\r\n";
  };
  size_t remaining = size;
  while (remaining > 2 * (kMaxDigits + 2)) {
    size_t count = 1 + rng.Next() % kMaxDigits;
    line(count);
    remaining -= count + 2;
  }
  if (remaining > kMaxDigits + 2) {
    size_t first = remaining / 2;
    line(first - 2);
    remaining -= first;
  }
  line(remaining - 2);
  return out;
}

}  // namespace quorvane::bench
