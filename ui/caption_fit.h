#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <vector>

#include "ui/dialog_templates.h"

// How the dialog's controls grow so that every caption shows whole in whatever font the system
// gives the dialog: one rule for every front end, which measures the captions and moves the
// controls, in pixels.
namespace quorvane {

enum class Growth {
  kFixed,   // keeps its rectangle
  kText,    // a text that starts at its left edge (static text, link, check box): grows rightwards
  kButton,  // a push button: grows rightwards, then leftwards
  kField,   // an edit field: gives up room to a button beside it that needs it
};

inline Growth GrowthOf(const ControlTemplate& control) {
  const std::string_view class_name = control.class_name;
  if (class_name == "STATIC" || class_name == "MfcLink") return Growth::kText;
  if (class_name == "EDIT") return Growth::kField;
  if (class_name != "BUTTON") return Growth::kFixed;
  return (control.style & style::kButtonTypeMask) == style::kAutoCheckBox ? Growth::kText
                                                                          : Growth::kButton;
}

// A control's rectangle in pixels, the width its caption needs there (0: no caption), and how it
// may grow.
struct FitBox {
  int x = 0, y = 0, width = 0, height = 0;
  int needed = 0;
  Growth growth = Growth::kFixed;

  int right() const { return x + width; }  // just past the last pixel
};

namespace caption_fit {

inline bool SameRow(const FitBox& a, const FitBox& b) {
  return a.y < b.y + b.height && b.y < a.y + a.height;
}

// The nearest box on `boxes[index]`'s row beyond its right (or left) edge; nullptr if none.
inline FitBox* Neighbour(std::vector<FitBox>& boxes, size_t index, bool right) {
  const FitBox& box = boxes[index];
  FitBox* nearest = nullptr;
  for (size_t other = 0; other < boxes.size(); ++other) {
    FitBox& candidate = boxes[other];
    if (other == index || !SameRow(candidate, box)) continue;
    if (right && candidate.x >= box.right() && (nearest == nullptr || candidate.x < nearest->x)) {
      nearest = &candidate;
    }
    if (!right && candidate.right() <= box.x &&
        (nearest == nullptr || candidate.right() > nearest->right())) {
      nearest = &candidate;
    }
  }
  return nearest;
}

// Grows `boxes[index]` by up to `lacking` pixels on one side; returns what it still lacks.
inline int Grow(std::vector<FitBox>& boxes, size_t index, int lacking, bool right, int dialog_width,
                int margin, int spacing) {
  FitBox* neighbour = Neighbour(boxes, index, right);
  FitBox& box = boxes[index];
  const int limit = right ? (neighbour != nullptr ? neighbour->x - spacing : dialog_width - margin)
                          : (neighbour != nullptr ? neighbour->right() + spacing : margin);
  int take = std::min(lacking, std::max(0, right ? limit - box.right() : box.x - limit));
  if (take < lacking && neighbour != nullptr && box.growth == Growth::kButton &&
      neighbour->growth == Growth::kField) {
    // The field's text scrolls; a cut caption cannot.
    const int given = std::min(lacking - take, neighbour->width / 2);
    neighbour->width -= given;
    if (right) neighbour->x += given;
    take += given;
  }
  box.width += take;
  if (!right) box.x -= take;
  return lacking - take;
}

}  // namespace caption_fit

// Widens, in order, every box whose caption needs more than its width, into the free room beside
// it on its row: a box never leaves the dialog's margin (the narrowest the boxes leave on either
// side), never overlaps another box, and stays `spacing` pixels away from one it grows towards. A
// button that still lacks room takes it from an edit field beside it, which keeps at least half
// its width.
inline void FitToText(std::vector<FitBox>& boxes, int dialog_width, int spacing) {
  int margin = dialog_width;
  for (const FitBox& box : boxes) margin = std::min({margin, box.x, dialog_width - box.right()});
  margin = std::max(margin, 0);
  for (size_t index = 0; index < boxes.size(); ++index) {
    const Growth growth = boxes[index].growth;
    int lacking = boxes[index].needed - boxes[index].width;
    if (lacking <= 0 || growth == Growth::kFixed || growth == Growth::kField) continue;
    // Rightwards, and a button then leftwards too: one at the dialog's right edge grows only so.
    lacking = caption_fit::Grow(boxes, index, lacking, true, dialog_width, margin, spacing);
    if (growth == Growth::kButton) {
      caption_fit::Grow(boxes, index, lacking, false, dialog_width, margin, spacing);
    }
  }
}

}  // namespace quorvane
