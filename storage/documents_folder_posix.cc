#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "storage/folder_tree.h"

namespace quorvane {
namespace {

// Empty when no home folder can be found at all.
std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return {};
}

// The text of a small plain file; empty when it is missing, too large, or not a plain file. A
// named pipe or a device in its place is never waited on.
std::string ReadSmallFile(const std::string& path) {
  constexpr size_t kLimit = 65536;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text;
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= static_cast<off_t>(kLimit)) {
    text.resize(kLimit);
    ssize_t got = ::read(fd, text.data(), text.size());
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  ::close(fd);
  return text;
}

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs, written as "$HOME/..." or as an absolute
// path; empty when the file or the entry is missing or unusable. Read as xdg-user-dir and GLib
// read it, so that a calling program that asks them finds the same folder: blanks before the
// name are skipped, and of several lines the last one counts.
std::string XdgDocumentsFolder(const std::string& home) {
  const char* config_home = std::getenv("XDG_CONFIG_HOME");
  std::string config = (config_home != nullptr && *config_home == '/') ? std::string(config_home)
                                                                       : home + "/.config";
  const std::string dirs = ReadSmallFile(config + "/user-dirs.dirs");
  constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=\"";
  std::optional<std::string_view> last;
  for (size_t start = 0; start < dirs.size();) {
    size_t end_of_line = dirs.find('\n', start);
    if (end_of_line == std::string::npos) end_of_line = dirs.size();
    std::string_view line(dirs.data() + start, end_of_line - start);
    start = end_of_line + 1;
    line.remove_prefix(std::min(line.find_first_not_of(" \t"), line.size()));
    if (line.starts_with(kKey)) last = line.substr(kKey.size());
  }
  if (!last) return {};
  const size_t quote = last->find('"');
  if (quote == std::string_view::npos) return {};
  std::string_view value = last->substr(0, quote);
  if (value.starts_with("$HOME")) {
    value.remove_prefix(5);
    // "$HOME" itself or "$HOME/..."; "$HOMEx" would name a sibling of the home folder.
    if (!value.empty() && value[0] != '/') return {};
    return home + std::string(value);
  }
  if (!value.empty() && value[0] == '/') return std::string(value);
  return {};
}

}  // namespace

std::string QueryDocumentsFolder() {
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  std::string documents = XdgDocumentsFolder(home);
  if (documents.empty()) documents = home + "/Documents";
  while (documents.size() > 1 && documents.back() == '/') documents.pop_back();
  return documents;
}

}  // namespace quorvane
