#include "platform/headless/headless_view.h"

#include <cstdio>
#include <stdexcept>

#include "ui/dialog_templates.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace quorvane {

HeadlessView::HeadlessView() {
  for (const ControlTemplate& control : MainDialogTemplate().controls) {
    if (control.id == kIdStatic) continue;
    controls_[control.id].text = Text(control.text);
  }
}

const ControlState& HeadlessView::control(int id) const {
  auto found = controls_.find(id);
  if (found == controls_.end()) throw std::out_of_range("no control " + std::to_string(id));
  return found->second;
}

ControlState& HeadlessView::at(int id) { return const_cast<ControlState&>(control(id)); }

std::string_view HeadlessView::GetText(int id) { return at(id).text; }

std::vector<ControlSnapshot> HeadlessView::Snapshot() const {
  std::vector<ControlSnapshot> snapshot;
  for (const auto& [id, state] : controls_) {
    snapshot.push_back({state.As<std::string_view>(), id});
  }
  return snapshot;
}
void HeadlessView::SetText(int id, std::string_view text) { at(id).text = text; }
bool HeadlessView::IsChecked(int id) { return at(id).checked; }
void HeadlessView::SetChecked(int id, bool checked) { at(id).checked = checked; }

bool HeadlessView::Show(int id, bool visible) {
  bool was_visible = at(id).visible;
  at(id).visible = visible;
  return was_visible;
}

bool HeadlessView::IsVisible(int id) { return at(id).visible; }

void HeadlessView::Enable(int id, bool enabled) { at(id).enabled = enabled; }
void HeadlessView::SetProgressRange(int id, uint64_t maximum) { at(id).range = maximum; }
void HeadlessView::SetProgressPos(int id, uint64_t position) { at(id).position = position; }

void HeadlessView::MessageBox(std::string_view text, MessageIcon icon) {
  if (message_handler_) {
    message_handler_(text, icon);
  } else {
    PrintMessageToStandardError(application_name_, text, icon);
  }
}

void HeadlessView::Beep(MessageIcon sound) {
  if (beep_handler_) {
    beep_handler_(sound);
  } else {
    RingTerminalBell();
  }
}

void RingTerminalBell() {
#ifndef _WIN32
  // Only a terminal can sound it; anywhere else the bell would be a stray byte in a log.
  if (::isatty(STDERR_FILENO)) std::fputc('\a', stderr);
#endif
}

void HeadlessView::BeginWaitCursor() { ++wait_cursor_depth_; }

void HeadlessView::EndWaitCursor() {
  if (wait_cursor_depth_ > 0) --wait_cursor_depth_;
}

void HeadlessView::EndDialog(int result) {
  ended_ = true;
  end_result_ = result;
}

void PrintMessageToStandardError(std::string_view caption, std::string_view text,
                                 MessageIcon icon) {
  std::string out(caption);
  out += icon == MessageIcon::kError ? ": error: " : ": ";
  out += OneLine(text);
  out.push_back('\n');
  std::fputs(out.c_str(), stderr);
}

}  // namespace quorvane
