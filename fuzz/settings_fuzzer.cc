// ParseSettingsText against the file's rules worked out another way: the text is cut at its first
// zero byte, split at its first two line feeds, and each of the two pieces loses its CRs and every
// byte outside 7-bit ASCII. Whatever the text, the lines only ever gain bytes 0x01 to 0x7F other
// than CR and LF, and nothing after the second line reaches them.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "storage/settings.h"

namespace {

std::string Kept(std::string_view piece) {
  std::string kept(piece);
  std::erase_if(kept, [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte == '\r' || byte >= 0x80;
  });
  return kept;
}

bool OnlyLineBytes(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 0x01 && byte <= 0x7F && byte != '\r' && byte != '\n';
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // Lines are appended to, never cleared: start from something already there.
  const std::string before_auto_run = "1";
  const std::string before_show_messages = "";
  quorvane::SettingsLines lines{before_auto_run, before_show_messages};

  quorvane::ParseSettingsText(text, lines);

  const std::string_view content = text.substr(0, std::min(text.find('\0'), text.size()));
  if (content.size() >= quorvane::kSettingsTextLimit) {
    FUZZ_CHECK(lines.auto_run == before_auto_run);
    FUZZ_CHECK(lines.show_messages == before_show_messages);
    return 0;
  }
  const size_t first_break = std::min(content.find('\n'), content.size());
  const std::string_view rest = content.substr(std::min(first_break + 1, content.size()));
  const std::string_view first = content.substr(0, first_break);
  const std::string_view second =
      first_break == content.size() ? std::string_view() : rest.substr(0, rest.find('\n'));

  FUZZ_CHECK(lines.auto_run == before_auto_run + Kept(first));
  FUZZ_CHECK(lines.show_messages == before_show_messages + Kept(second));
  FUZZ_CHECK(OnlyLineBytes(std::string_view(lines.auto_run).substr(before_auto_run.size())));
  FUZZ_CHECK(OnlyLineBytes(lines.show_messages));
  return 0;
}
