#include "storage/settings.h"

namespace quorvane {

void ParseSettingsText(std::string_view text, SettingsLines& lines) {
  text = text.substr(0, text.find('\0'));
  if (text.size() >= kSettingsTextLimit) return;
  std::string* slots[] = {&lines.auto_run, &lines.show_messages};
  size_t line = 0;
  for (unsigned char byte : text) {
    if (byte == '\n') {
      if (++line == 2) break;
    } else if (byte != '\r' && byte < 0x80) {
      slots[line]->push_back(static_cast<char>(byte));
    }
  }
}

std::string SettingsFileBytes(bool auto_run, bool show_messages) {
  return std::string(auto_run ? "1" : "0") + "\r\n" + (show_messages ? "1" : "0");
}

}  // namespace quorvane
