#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// The two lines of the settings file, as read at start-up. A value counts as off only when it is
// exactly "0"; anything else, the empty text included, counts as on.
struct SettingsLines {
  std::string auto_run;       // line 0
  std::string show_messages;  // line 1
};

inline bool IsOff(std::string_view value) { return value == "0"; }

// A settings text this long or longer is not parsed at all.
inline constexpr size_t kSettingsTextLimit = 10000;

// Appends the characters of the first two lines of `text` to `lines`: lines end at LF, CR and
// every byte outside 7-bit ASCII are dropped, and a zero byte ends the text. Characters after the
// second line have no line to go to and are ignored. A text of kSettingsTextLimit characters or
// more leaves `lines` as they were, which the start-up treats like an empty file.
void ParseSettingsText(std::string_view text, SettingsLines& lines);

// The four bytes the exit button writes: "1" or "0", CR LF, "1" or "0".
std::string SettingsFileBytes(bool auto_run, bool show_messages);

}  // namespace quorvane
