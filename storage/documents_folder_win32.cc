#include "storage/windows_api.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <string>

#include "storage/folder_tree.h"
#include "storage/wide_text.h"

namespace quorvane {

std::string QueryDocumentsFolder() {
  // The wide form of the query: the 8-bit one turns every character of the profile path outside
  // the ANSI code page into "?", and the files would go astray. Where the 8-bit one worked, both
  // name the same folder. The folder need not exist yet: start-up makes it.
  PWSTR path = nullptr;
  std::string documents;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_Documents, KF_FLAG_DONT_VERIFY, nullptr, &path))) {
    documents = win32::ToUtf8(path);
  }
  ::CoTaskMemFree(path);
  return documents;
}

}  // namespace quorvane
