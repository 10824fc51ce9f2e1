#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "storage/split_mix64.h"

namespace quorvane::bench {

// The largest input a run accepts, and the size of the benchmark input.
inline constexpr size_t kBenchInputSize = 2077000;

// The seed that make_input.py gives SplitMix64.
inline constexpr uint64_t kBenchSeed = 0x51756F7276616E65;

// The benchmark input, byte for byte what `make_input.py FILE size` writes: random lines of 1 to
// 31 binary digits, each ended by CR LF, the last one ending exactly at `size` bytes (size >= 3).
inline std::string MakeBenchInput(size_t size = kBenchInputSize) {
  constexpr size_t kMaxDigits = 31;
  SplitMix64 rng(kBenchSeed);
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
