#include "ui/dialog_templates.h"

#include <iterator>

namespace quorvane {
namespace {

using namespace style;

// Every control is a visible child; the rest of its style says what kind it is.
constexpr uint32_t kControl = kChild | kVisible;
constexpr uint32_t kStaticText = kControl | kGroup;  // left-aligned
constexpr uint32_t kButton = kControl | kTabStop | kPushButton;
constexpr uint32_t kDefaultButton = kControl | kTabStop | kDefaultPushButton;
constexpr uint32_t kCheckBox = kControl | kTabStop | kAutoCheckBox;
constexpr uint32_t kLink = kControl | kTabStop;
constexpr uint32_t kProgressBar = kControl | kBorder;
constexpr uint32_t kEditLine = kEditMultiLine | kEditAutoHScroll | kEditWantReturn;
constexpr uint32_t kInputField = kControl | kBorder | kTabStop | kEditLine | kEditNumber;
constexpr uint32_t kReadOnlyField = kControl | kBorder | kTabStop | kEditLine | kEditReadOnly;
// The progress text reads as plain text: a read-only field without a border.
constexpr uint32_t kProgressField = kControl | kTabStop | kEditLine | kEditReadOnly;
constexpr uint32_t kMainDialogStyle =
    kPopup | kVisible | kCaption | kDialogModalFrame | kDialogSetFont;
constexpr uint32_t kVersionDialogStyle =
    kPopup | kCaption | kSystemMenu | kDialogModalFrame | kDialogSetFont | kDialogFixedSys;

// The whole values the templates hold, bit for bit as the dialog has always had them.
static_assert(kStaticText == 0x50020000);
static_assert(kButton == 0x50010000);
static_assert(kDefaultButton == 0x50010001);
static_assert(kCheckBox == 0x50010003);
static_assert(kLink == 0x50010000);
static_assert(kProgressBar == 0x50800000);
static_assert(kInputField == 0x50813084);
static_assert(kReadOnlyField == 0x50811884);
static_assert(kProgressField == 0x50011884);
static_assert(kMainDialogStyle == 0x90C000C0);
static_assert(kVersionDialogStyle == 0x80C800C8);
static_assert(kExAppWindow == 0x00040000);

constexpr ControlTemplate kMainControls[] = {
    {kIdExit, "BUTTON", TextId::kExitButton, kDefaultButton, {398, 189, 50, 14}},
    {kIdVersion, "BUTTON", TextId::kVersionButton, kButton, {398, 7, 50, 14}},
    {kIdInput, "EDIT", TextId::kNone, kInputField, {7, 25, 290, 14}},
    {kIdConvert, "BUTTON", TextId::kConvertButton, kButton, {298, 25, 50, 14}},
    {kIdOutput, "EDIT", TextId::kNone, kReadOnlyField, {349, 25, 99, 14}},
    {kIdStatic, "STATIC", TextId::kInputLabel, kStaticText, {7, 14, 109, 8}},
    {kIdProgressBar, "msctls_progress32", TextId::kNone, kProgressBar, {7, 69, 441, 6}},
    {kIdAutoRun, "BUTTON", TextId::kAutoRunBox, kCheckBox, {7, 43, 61, 10}},
    {kIdShowMessages, "BUTTON", TextId::kShowMessagesBox, kCheckBox, {73, 43, 84, 10}},
    {kIdStatic, "STATIC", TextId::kPromotion1, kStaticText, {7, 111, 213, 8}},
    {kIdStatic, "STATIC", TextId::kPromotion2, kStaticText, {7, 123, 254, 8}},
    {kIdStatic, "STATIC", TextId::kPromotion3, kStaticText, {7, 135, 250, 8}},
    {kIdStatic, "STATIC", TextId::kPromotion4, kStaticText, {7, 147, 298, 8}},
    {kIdStatic, "STATIC", TextId::kPromotion5, kStaticText, {7, 159, 259, 8}},
    {kIdSiteLink, "MfcLink", TextId::kSiteLink, kLink, {7, 171, 198, 14}},
    {kIdShopLink, "MfcLink", TextId::kShopLink, kLink, {7, 189, 267, 14}},
    {kIdProgressText, "EDIT", TextId::kNone, kProgressField, {7, 53, 92, 14}},
    {kIdFullPath, "EDIT", TextId::kNone, kReadOnlyField, {7, 89, 441, 14}},
    {kIdStatic, "STATIC", TextId::kFullPathLabel, kStaticText, {7, 81, 109, 8}},
};

constexpr AccessibleName kMainAccessibleNames[] = {
    {kIdInput, TextId::kInputLabel},         {kIdOutput, TextId::kOutputName},
    {kIdFullPath, TextId::kFullPathLabel},   {kIdProgressText, TextId::kProgressName},
    {kIdProgressBar, TextId::kProgressName},
};

constexpr ControlTemplate kVersionControls[] = {
    {kIdExit, "BUTTON", TextId::kOkButton, kDefaultButton, {131, 134, 50, 14}},
    {kIdStatic, "STATIC", TextId::kVersionLine, kStaticText, {105, 7, 192, 8}},
    {kIdStatic, "STATIC", TextId::kAuthorLine, kStaticText, {71, 23, 221, 8}},
    {kIdStatic, "STATIC", TextId::kToolLine, kStaticText, {81, 47, 225, 8}},
    {kIdStatic, "STATIC", TextId::kReportLine, kStaticText, {58, 60, 248, 8}},
    {kIdStatic, "STATIC", TextId::kThanksLine, kStaticText, {121, 73, 178, 8}},
    {kIdStatic, "STATIC", TextId::kCopyrightLine, kStaticText, {32, 100, 274, 8}},
    {kIdStatic, "STATIC", TextId::kWarrantyLine, kStaticText, {80, 115, 217, 8}},
};

const DialogTemplate kMainDialog = {
    kMainDialogId,
    TextId::kMainCaption,
    kMainDialogStyle,
    kExAppWindow,
    455,
    210,
    {"MS UI Gothic", 9, 0, false, 1},
    kMainControls,
};

const DialogTemplate kVersionDialog = {
    kVersionDialogId,
    TextId::kVersionCaption,
    kVersionDialogStyle,
    0,
    313,
    155,
    {"MS Shell Dlg", 8, 400, false, 1},
    kVersionControls,
};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainDialog; }
const DialogTemplate& VersionDialogTemplate() { return kVersionDialog; }

std::span<const AccessibleName> MainDialogAccessibleNames() { return kMainAccessibleNames; }

const ControlTemplate* FindControl(const DialogTemplate& dialog, int id) {
  for (const ControlTemplate& control : dialog.controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

}  // namespace quorvane
