#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "storage/folder_tree.h"

namespace quorvane {
namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs, written as "$HOME/..." or as an absolute
// path; empty when the file or the entry is missing or unusable.
std::string XdgDocumentsFolder(const std::string& home) {
  const char* config_home = std::getenv("XDG_CONFIG_HOME");
  std::string config = (config_home != nullptr && *config_home == '/') ? std::string(config_home)
                                                                       : home + "/.config";
  std::ifstream dirs(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(dirs, line)) {
    const std::string key = "XDG_DOCUMENTS_DIR=\"";
    if (line.rfind(key, 0) != 0) continue;
    size_t end = line.find('"', key.size());
    if (end == std::string::npos) return {};
    std::string value = line.substr(key.size(), end - key.size());
    if (value.rfind("$HOME", 0) == 0) return home + value.substr(5);
    if (!value.empty() && value[0] == '/') return value;
    return {};
  }
  return {};
}

}  // namespace

std::string QueryDocumentsFolder() {
  std::string home = HomeFolder();
  std::string documents = XdgDocumentsFolder(home);
  if (documents.empty()) documents = home + "/Documents";
  while (documents.size() > 1 && documents.back() == '/') documents.pop_back();
  return documents;
}

}  // namespace quorvane
