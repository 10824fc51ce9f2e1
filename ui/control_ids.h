#pragma once

// The ids of the dialogs, their controls, the icon and the common controls' manifest: plain
// macros, shared by the code (ui/dialog_templates.h, platform/win32/main_win32.cc) and the
// Windows resource script, so that an id cannot drift between them.
#define QUORVANE_DIALOG_MAIN 102
#define QUORVANE_DIALOG_VERSION 130
#define QUORVANE_ICON_GROUP 128
/* Above the manifest ids 1-16, which the system's loader reads by itself as a module loads. */
#define QUORVANE_CONTROLS_MANIFEST 100

#define QUORVANE_ID_EXIT 1   /* the dialog's OK command */
#define QUORVANE_ID_CANCEL 2 /* a close request from the window system */
#define QUORVANE_ID_VERSION 1000
#define QUORVANE_ID_INPUT 1001
#define QUORVANE_ID_CONVERT 1002
#define QUORVANE_ID_OUTPUT 1003
#define QUORVANE_ID_PROGRESS_BAR 1004
#define QUORVANE_ID_AUTO_RUN 1005
#define QUORVANE_ID_SHOW_MESSAGES 1006
#define QUORVANE_ID_SITE_LINK 1007
#define QUORVANE_ID_SHOP_LINK 1008
#define QUORVANE_ID_PROGRESS_TEXT 1009
#define QUORVANE_ID_FULL_PATH 1010
#define QUORVANE_ID_STATIC (-1) /* static texts have no id (all bits set in the template) */
