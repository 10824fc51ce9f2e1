#pragma once

#include <string>

#include "storage/file_system.h"

namespace quorvane::testing {

// Removes a folder with everything in it, through the file system seam (so on Windows with the W
// functions). A file that cannot be deleted stays, and so does every folder above it. False when
// the folder cannot be listed (nothing is deleted then).
inline bool DeleteTree(FileSystem& fs, const std::string& path) {
  auto entries = fs.ListDirectory(path);
  if (!entries) return false;
  for (const DirectoryEntry& entry : *entries) {
    std::string child = path + kPathSeparator + entry.name;
    if (entry.is_directory) {
      DeleteTree(fs, child);
    } else {
      fs.DeleteFile(child);
    }
  }
  fs.RemoveDirectory(path);  // fails, as it should, when something was left inside
  return true;
}

}  // namespace quorvane::testing
