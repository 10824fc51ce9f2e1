#pragma once

namespace quorvane {

// The kinds of window message the main dialog's keyboard filter tells apart.
enum class MessageKind { kKeyDown, kKeyUp, kCharacter, kSystemKey, kOther };

// The main dialog's keyboard filter. No key-down ever reaches the dialog manager: Enter does not
// press the default (exit) button, Escape does not cancel, the arrow keys do not move the focus.
// The key still goes to the focused control, which handles it as that control does on its own
// (the input field starts a new line on Enter; a focused button is pressed by Space, which
// buttons handle on key-up). Every other message goes the usual way. Tab and Shift+Tab are the
// one exception, taken before the filter: each front end moves the focus to the next (previous)
// tab stop in template order itself, from every control, so that the dialog can be used from the
// keyboard alone, and Escape in an edit field goes nowhere (a multi-line edit would close the
// dialog with it).
constexpr bool OfferedToDialogManager(MessageKind kind) { return kind != MessageKind::kKeyDown; }

}  // namespace quorvane
