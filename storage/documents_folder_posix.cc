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
#include "storage/kernel_calls_linux.h"

namespace quorvane {
namespace {

// $HOME, or the password database's home folder when HOME is unset or empty (as the shell and
// GLib take it); empty when there is none at all.
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
  if (kernel::Fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
      st.st_size <= static_cast<off_t>(kLimit)) {
    text.resize(kLimit);
    ssize_t got = ::read(fd, text.data(), text.size());
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  ::close(fd);
  return text;
}

// The quoted value that starts `text` (after its opening quote), with the shell's escapes inside
// double quotes undone: xdg-user-dirs-update writes "$", "`", '"' and "\" as \$, \`, \" and \\,
// and xdg-user-dir reads the file with the shell. nullopt when the closing quote is missing.
std::optional<std::string> Unquote(std::string_view text) {
  std::string value;
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '"') return value;
    if (c == '\\' && at + 1 < text.size() &&
        std::string_view("$`\"\\").find(text[at + 1]) != std::string_view::npos) {
      value.push_back(text[++at]);
    } else {
      value.push_back(c);
    }
  }
  return std::nullopt;
}

// The value of XDG_DOCUMENTS_DIR in user-dirs.dirs, written as "$HOME/..." or as an absolute
// path; empty when the file or the entry is missing or unusable. Read as xdg-user-dir and GLib
// read it, so that a calling program that asks them finds the same folder: blanks before the
// name are skipped, and of several lines the last one counts.
std::string XdgDocumentsFolder(const std::string& home) {
  // A relative XDG_CONFIG_HOME is ignored, as the XDG base directories say: it would read a file
  // from whatever folder the program was started in.
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
  // "$HOME" is the one variable the file uses, and only at the start; "\$HOME" is not it.
  std::string_view quoted = *last;
  const bool under_home = quoted.starts_with("$HOME");
  if (under_home) quoted.remove_prefix(5);
  std::optional<std::string> value = Unquote(quoted);
  if (!value) return {};
  if (under_home) {
    // "$HOME" itself or "$HOME/..."; "$HOMEx" would name a sibling of the home folder.
    if (!value->empty() && (*value)[0] != '/') return {};
    return home + *value;
  }
  if (!value->empty() && (*value)[0] == '/') return *value;
  return {};
}

}  // namespace

DocumentsLookup LookUpDocumentsFolder() {
  DocumentsLookup lookup;
  const std::string home = HomeFolder();
  if (home.empty()) {
    lookup.problem = DocumentsLookup::Problem::kNoHome;
    return lookup;
  }
  if (!IsAbsolutePath(home)) {
    lookup.problem = DocumentsLookup::Problem::kHomeNotAbsolute;
    lookup.refused = home;
    return lookup;
  }
  std::string documents = XdgDocumentsFolder(home);
  if (documents.empty()) documents = home + "/Documents";
  while (documents.size() > 1 && documents.back() == '/') documents.pop_back();
  lookup.path = std::move(documents);
  return lookup;
}

}  // namespace quorvane
