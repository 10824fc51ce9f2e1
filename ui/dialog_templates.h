#pragma once

#include <cstdint>
#include <span>

#include "ui/control_ids.h"
#include "ui/texts.h"

namespace quorvane {

// Control ids of the main dialog.
enum ControlId : int {
  kIdExit = QUORVANE_ID_EXIT,
  kIdCancel = QUORVANE_ID_CANCEL,
  kIdVersion = QUORVANE_ID_VERSION,
  kIdInput = QUORVANE_ID_INPUT,
  kIdConvert = QUORVANE_ID_CONVERT,
  kIdOutput = QUORVANE_ID_OUTPUT,
  kIdProgressBar = QUORVANE_ID_PROGRESS_BAR,
  kIdAutoRun = QUORVANE_ID_AUTO_RUN,
  kIdShowMessages = QUORVANE_ID_SHOW_MESSAGES,
  kIdSiteLink = QUORVANE_ID_SITE_LINK,
  kIdShopLink = QUORVANE_ID_SHOP_LINK,
  kIdProgressText = QUORVANE_ID_PROGRESS_TEXT,
  kIdFullPath = QUORVANE_ID_FULL_PATH,
  kIdStatic = QUORVANE_ID_STATIC,
};

inline constexpr int kMainDialogId = QUORVANE_DIALOG_MAIN;
inline constexpr int kVersionDialogId = QUORVANE_DIALOG_VERSION;
inline constexpr int kIconGroupId = QUORVANE_ICON_GROUP;

// Window styles and control styles, by the values a dialog template holds.
namespace style {
inline constexpr uint32_t kPopup = 0x80000000;
inline constexpr uint32_t kCaption = 0x00C00000;  // a border and a dialog frame
inline constexpr uint32_t kDialogModalFrame = 0x00000080;
inline constexpr uint32_t kDialogSetFont = 0x00000040;  // the font is given in the template
inline constexpr uint32_t kDialogFixedSys = 0x00000008;
inline constexpr uint32_t kExAppWindow = 0x00040000;  // its own taskbar button
inline constexpr uint32_t kChild = 0x40000000;
inline constexpr uint32_t kVisible = 0x10000000;
inline constexpr uint32_t kBorder = 0x00800000;
inline constexpr uint32_t kGroup = 0x00020000;
inline constexpr uint32_t kTabStop = 0x00010000;
inline constexpr uint32_t kSystemMenu = 0x00080000;
inline constexpr uint32_t kEditMultiLine = 0x0004;
inline constexpr uint32_t kEditAutoHScroll = 0x0080;
inline constexpr uint32_t kEditReadOnly = 0x0800;
inline constexpr uint32_t kEditWantReturn = 0x1000;
inline constexpr uint32_t kEditNumber = 0x2000;  // digits only
inline constexpr uint32_t kButtonTypeMask = 0x000F;
inline constexpr uint32_t kPushButton = 0x0000;
inline constexpr uint32_t kDefaultPushButton = 0x0001;
inline constexpr uint32_t kAutoCheckBox = 0x0003;
}  // namespace style

// Position and size in dialog units.
struct DialogRect {
  int x, y, width, height;
};

struct ControlTemplate {
  int id;
  const char* class_name;  // BUTTON, EDIT, STATIC, msctls_progress32, MfcLink
  TextId text;             // a link's text is also its address
  uint32_t style;
  DialogRect rect;
};

struct FontTemplate {
  const char* face;
  int point_size;
  int weight;
  bool italic;
  int charset;
};

struct DialogTemplate {
  int id;
  TextId caption;
  uint32_t style;
  uint32_t ex_style;
  int width, height;  // dialog units
  FontTemplate font;
  std::span<const ControlTemplate> controls;  // in template (creation and tab) order
};

// The main dialog and the version dialog, the one description every front end builds from.
const DialogTemplate& MainDialogTemplate();
const DialogTemplate& VersionDialogTemplate();

// The name a screen reader gives a control that has no caption of its own: the static text that
// labels it in the template, or a short name where nothing does.
struct AccessibleName {
  int id;
  TextId name;
};
std::span<const AccessibleName> MainDialogAccessibleNames();

// The control of a template with this id, or nullptr.
const ControlTemplate* FindControl(const DialogTemplate& dialog, int id);

}  // namespace quorvane
