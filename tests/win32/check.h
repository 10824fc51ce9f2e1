#pragma once

// A minimal harness for the Windows checks, which run under Wine where GoogleTest is not built:
// each failed expectation prints one line, and the program fails when there was any.
#include <cstdio>
#include <string>
#include <type_traits>

namespace quorvane::win32_test {

struct Tally {
  int checks = 0;
  int failures = 0;
};

inline Tally& Counts() {
  static Tally tally;
  return tally;
}

inline void Expect(const std::string& where, const std::string& what, bool condition) {
  ++Counts().checks;
  if (condition) return;
  ++Counts().failures;
  std::printf("FAIL %s: %s\n", where.c_str(), what.c_str());
}

template <typename T>
std::string Show(const T& value) {
  if constexpr (std::is_convertible_v<T, std::string>) {
    return "\"" + std::string(value) + "\"";
  } else if constexpr (std::is_same_v<T, bool>) {
    return value ? "true" : "false";
  } else {
    char hex[32];
    std::snprintf(hex, sizeof hex, " (0x%llX)", static_cast<unsigned long long>(value));
    return std::to_string(value) + hex;
  }
}

// Expects `actual == expected`; `where` names the table row or the case.
template <typename A, typename E>
void ExpectEq(const std::string& where, const std::string& what, const A& actual,
              const E& expected) {
  Expect(where, what + " is " + Show(actual) + ", expected " + Show(expected), actual == expected);
}

// Prints the closing line; the exit status is 0 when every expectation held.
inline int Finish(const char* name) {
  std::printf("%s: %d checks, %d failed\n", name, Counts().checks, Counts().failures);
  return Counts().failures == 0 ? 0 : 1;
}

}  // namespace quorvane::win32_test
