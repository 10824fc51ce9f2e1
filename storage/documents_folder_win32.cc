#include "platform/win32/windows_api.h"

#include <shlobj.h>

#include <string>

#include "platform/win32/wide_text.h"
#include "storage/folder_tree.h"

namespace quorvane {

std::string QueryDocumentsFolder() {
  // The 8-bit form of the query, as Quorvane has always asked it, into a cleared buffer: a failed
  // query leaves it empty, and the folders below it then name folders at the root of the drive.
  char buffer[MAX_PATH] = {};
  ::SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_PERSONAL, FALSE);
  return win32::ToUtf8(win32::ToWide(buffer, CP_ACP));
}

}  // namespace quorvane
