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

}  // namespace quorvane
