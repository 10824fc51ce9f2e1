#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "storage/file_system.h"

namespace quorvane::testing {

// A throw-away folder, removed with everything in it when the test ends.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempFolder() {
    std::error_code ignored;
    // Read-only marks left by a test must not keep the folder.
    for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return (path_ / relative).string(); }

 private:
  std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Whether a plain file named as a temporary of `target` (see IsTemporaryNameFor) is beside it.
inline bool TemporaryLeftBeside(const std::filesystem::path& target) {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(target.parent_path(), ignored)) {
    if (entry.is_regular_file(ignored) && !entry.is_symlink(ignored) &&
        IsTemporaryNameFor(entry.path().filename().string(), target.filename().string())) {
      return true;
    }
  }
  return false;
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace quorvane::testing
