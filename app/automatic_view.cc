#include "app/automatic_view.h"

namespace quorvane {

bool AutomaticRunView::Show(int id, bool visible) {
  const bool was_visible = controls_[id].visible;
  controls_[id].visible = visible;
  return was_visible;
}

void AutomaticRunView::MessageBox(std::string_view text, MessageIcon icon) {
  if (!platform_.ShowMessage(text, icon)) told_on_standard_error_ = true;
}

}  // namespace quorvane
