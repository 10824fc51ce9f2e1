#include "storage/folder_tree.h"

#include <utility>

#include "storage/file_system.h"

namespace quorvane {
namespace {

std::string Join(const std::string& folder, const char* name) {
  return folder + kPathSeparator + name;
}

}  // namespace

FolderTree::FolderTree(std::string documents_path)
    : documents(std::move(documents_path)),
      maker(Join(documents, "Brenvale")),
      data_root(Join(maker, "MFCQuorvane")),
      result(Join(data_root, "Result")),
      temp(Join(data_root, "temp")),
      auto_file(Join(data_root, "AutoFile")) {}

std::string FolderTree::SettingsFile() const { return Join(temp, "Quorvane.tmp"); }
std::string FolderTree::InputFile() const { return Join(auto_file, "Bintake.tbin"); }
std::string FolderTree::ResultFile() const { return Join(result, "Decyield.tbin"); }

std::string QueryDocumentsFolder() { return LookUpDocumentsFolder().path; }

bool IsAbsolutePath(std::string_view path) {
#ifdef _WIN32
  // "C:\..." (or "C:/..."), or a share, "\\server\...". "C:folder" and "\folder" depend on the
  // current drive's folder or the current drive.
  const auto separator = [](char c) { return c == '\\' || c == '/'; };
  const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') &&
                     path[1] == ':' && separator(path[2]);
  return drive || (path.size() >= 3 && separator(path[0]) && separator(path[1]));
#else
  return path.starts_with('/');
#endif
}

}  // namespace quorvane
