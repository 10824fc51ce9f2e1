// BinaryToDecimal and the dialog's input check against an evaluation of their own: the text is
// decoded as UTF-8, every character gets its digit position counted from the right in UTF-16
// code units (two for a character beyond U+FFFF), and each "1" adds two to the power of its
// position, summed in 128 bits. Above kLargestDecimal the answer is "-1".
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/binary_to_decimal.h"
#include "fuzz/fuzz_check.h"

namespace {

__extension__ typedef unsigned __int128 Wide;

// The code points of valid UTF-8 text; nullopt for anything else.
std::optional<std::vector<char32_t>> DecodeUtf8(std::string_view text) {
  std::vector<char32_t> code_points;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80           ? 1
                    : (lead >> 5) == 0x6  ? 2
                    : (lead >> 4) == 0xE  ? 3
                    : (lead >> 3) == 0x1E ? 4
                                          : 0;
    if (length == 0 || i + length > text.size()) return std::nullopt;
    char32_t code_point = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code_point < smallest[length] || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      return std::nullopt;
    }
    code_points.push_back(code_point);
    i += length;
  }
  return code_points;
}

std::string Expected(const std::vector<char32_t>& code_points) {
  Wide value = 0;
  uint64_t position = 0;
  for (auto it = code_points.rbegin(); it != code_points.rend(); ++it) {
    if (*it == U'1') {
      if (position >= 64) return "-1";
      value += static_cast<Wide>(1) << position;
    }
    position += *it > 0xFFFF ? 2 : 1;
  }
  if (value > quorvane::kLargestDecimal) return "-1";
  return std::to_string(static_cast<uint64_t>(value));
}

bool IsPlainDecimal(const std::string& text) {
  if (text.empty() || text.size() > std::to_string(quorvane::kLargestDecimal).size()) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return std::stoull(text) <= quorvane::kLargestDecimal;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::string decimal = quorvane::BinaryToDecimal(text);
  FUZZ_CHECK(decimal == "-1" || IsPlainDecimal(decimal));

  // The dialog's texts are always valid UTF-8; on anything else only the form is checked.
  if (std::optional<std::vector<char32_t>> code_points = DecodeUtf8(text)) {
    FUZZ_CHECK(decimal == Expected(*code_points));
  }

  bool binary = true;
  for (char c : text) binary = binary && (c == '0' || c == '1');
  FUZZ_CHECK(quorvane::IsBinaryText(text) == binary);
  return 0;
}
