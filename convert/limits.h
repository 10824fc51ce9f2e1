#pragma once

#include <cstddef>
#include <cstdint>

// What a run accepts: the one place these numbers are written. The messages that tell a person
// about them, --help and every test oracle are formatted from here, so a change of limit is an
// edit of this file alone. It sits in the innermost folder so that every layer may include it.
namespace quorvane {

// The longest digit text a line may have.
inline constexpr size_t kMaxLineDigits = 31;

// The largest value ever written in decimal: kMaxLineDigits ones.
inline constexpr uint64_t kLargestDecimal = (uint64_t{1} << kMaxLineDigits) - 1;

// The largest input file a run reads, in bytes.
inline constexpr size_t kReadLimit = 2077000;

}  // namespace quorvane
