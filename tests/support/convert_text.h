#pragma once

#include <string>
#include <string_view>

#include "convert/line_converter.h"

namespace quorvane::testing {

// A whole text converted as a drop-folder run converts it (ConvertLinesInParts), its parts
// gathered into `result`; a refused text's parts are thrown away, as the run throws them away.
// `checked` is what the run's check before converting (CheckLines) says of the same text, which
// must be the same verdict.
struct ConvertedText : LinesVerdict {
  std::string result;
  LinesVerdict checked;
  [[nodiscard]] const LinesVerdict& verdict() const { return *this; }
};

inline ConvertedText ConvertText(std::string_view text,
                                 LineConverter::Path path = LineConverter::DefaultPath()) {
  std::string result;
  const LinesVerdict verdict = ConvertLinesInParts(
      text, [&result](std::string_view part) { result += part; }, path);
  if (verdict.not_binary || verdict.line_too_long) result.clear();
  return {verdict, std::move(result), CheckLines(text, path)};
}

}  // namespace quorvane::testing
