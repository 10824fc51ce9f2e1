#include "ui/dialog_templates.h"

#include "version.h"

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

// The static texts that label a field, and so also name it.
constexpr const char* kInputLabel = "正数の２進数を入力して下さい。";
constexpr const char* kFullPathLabel =
    "本ソフトウェアのフルパスです。プロセス起動させる時にご使用下さい。";

constexpr ControlTemplate kMainControls[] = {
    {kIdExit, "BUTTON", "終了", kDefaultButton, {398, 189, 50, 14}},
    {kIdVersion, "BUTTON", "バージョン情報", kButton, {398, 7, 50, 14}},
    {kIdInput, "EDIT", "", kInputField, {7, 25, 290, 14}},
    {kIdConvert, "BUTTON", "１０進数に変換", kButton, {298, 25, 50, 14}},
    {kIdOutput, "EDIT", "", kReadOnlyField, {349, 25, 99, 14}},
    {kIdStatic, "STATIC", kInputLabel, kStaticText, {7, 14, 109, 8}},
    {kIdProgressBar, "msctls_progress32", "", kProgressBar, {7, 69, 441, 6}},
    {kIdAutoRun, "BUTTON", "自動実行する", kCheckBox, {7, 43, 61, 10}},
    {kIdShowMessages, "BUTTON", "メッセージを表示する", kCheckBox, {73, 43, 84, 10}},
    {kIdStatic,
     "STATIC",
     "ブレンヴェイルは、小さな便利を作っています。",
     kStaticText,
     {7, 111, 213, 8}},
    {kIdStatic,
     "STATIC",
     "Quorvaneは２進数を10進数に変換するソフトウェアです。",
     kStaticText,
     {7, 123, 254, 8}},
    {kIdStatic,
     "STATIC",
     "他のプログラムから自動実行させることもできます。",
     kStaticText,
     {7, 135, 250, 8}},
    {kIdStatic,
     "STATIC",
     "ご意見・ご要望は、下のサイトからお寄せ下さい。",
     kStaticText,
     {7, 147, 298, 8}},
    {kIdStatic,
     "STATIC",
     "便利な道具のご購入は、下のウェブショップでどうぞ。",
     kStaticText,
     {7, 159, 259, 8}},
    {kIdSiteLink, "MfcLink", "https://www.brenvale.example/", kLink, {7, 171, 198, 14}},
    {kIdShopLink, "MfcLink", "https://shop.brenvale.example/quorvane/", kLink, {7, 189, 267, 14}},
    {kIdProgressText, "EDIT", "", kProgressField, {7, 53, 92, 14}},
    {kIdFullPath, "EDIT", "", kReadOnlyField, {7, 89, 441, 14}},
    {kIdStatic, "STATIC", kFullPathLabel, kStaticText, {7, 81, 109, 8}},
};

constexpr AccessibleName kMainAccessibleNames[] = {
    {kIdInput, kInputLabel},     {kIdOutput, "10進数"},      {kIdFullPath, kFullPathLabel},
    {kIdProgressText, "進捗率"}, {kIdProgressBar, "進捗率"},
};

constexpr ControlTemplate kVersionControls[] = {
    {kIdExit, "BUTTON", "OK", kDefaultButton, {131, 134, 50, 14}},
    {kIdStatic, "STATIC", QUORVANE_VERSION_LINE, kStaticText, {105, 7, 192, 8}},
    {kIdStatic, "STATIC", "作者：ブレンヴェイル ソフトウェア工房", kStaticText, {71, 23, 221, 8}},
    {kIdStatic,
     "STATIC",
     "手入力でも、自動実行でも使える変換ツールです。",
     kStaticText,
     {81, 47, 225, 8}},
    {kIdStatic,
     "STATIC",
     "不具合のご報告は、メインウィンドウのサイトからお願いします。",
     kStaticText,
     {58, 60, 248, 8}},
    {kIdStatic, "STATIC", "お使いいただき、ありがとうございます。", kStaticText, {121, 73, 178, 8}},
    {kIdStatic,
     "STATIC",
     "Copyright (C) 2026 Brenvale. All rights reserved.",
     kStaticText,
     {32, 100, 274, 8}},
    {kIdStatic, "STATIC", "本ソフトウェアは無保証で提供されます。", kStaticText, {80, 115, 217, 8}},
};

const DialogTemplate kMainDialog = {
    kMainDialogId,
    "Quorvane",
    kMainDialogStyle,
    kExAppWindow,
    455,
    210,
    {"MS UI Gothic", 9, 0, false, 1},
    kMainControls,
};

const DialogTemplate kVersionDialog = {
    kVersionDialogId,
    "バージョン情報",
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
