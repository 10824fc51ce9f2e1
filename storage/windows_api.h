#pragma once

// windows.h, without the macros that would rename Quorvane's own members: the A/W switches
// CreateFile, DeleteFile, RemoveDirectory and MessageBox share their names with operations of
// FileSystem and DialogView. Quorvane calls the W functions by their full names.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateFile
#undef DeleteFile
#undef RemoveDirectory
#undef MessageBox
