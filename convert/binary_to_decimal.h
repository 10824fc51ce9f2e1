#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "convert/limits.h"

namespace quorvane {

// Decimal text of an unsigned binary digit text (UTF-8), or "-1" when the value exceeds
// kLargestDecimal. Every character is one digit position (counted as UTF-16 code units, as the
// dialog counts them) and only "1" adds to the value, so "1x1" gives "5". The empty text gives "0".
[[nodiscard]] std::string BinaryToDecimal(std::string_view text);

// The input check of the dialog: true when the text is made only of "0" and "1". The empty text
// passes.
[[nodiscard]] bool IsBinaryText(std::string_view text);

}  // namespace quorvane
