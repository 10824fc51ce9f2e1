#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "storage/file_system.h"

namespace quorvane::testing {

// A file system held in memory: a dialog test that needs no real disk stays hermetic (a read-only
// mark is a flag, not a permission that root ignores), and a benchmark of the batch run measures
// the run and not the disk. Paths are plain keys; a folder is a key without contents, made one
// level at a time as on a disk. Nothing here is durable, so Flush does nothing.
class MemoryFileSystem final : public FileSystem {
 public:
  struct Node {
    bool is_directory = false;
    bool read_only = false;
    std::string bytes;
  };

  void PutFile(const std::string& path, std::string bytes) {
    nodes_[path] = {false, false, std::move(bytes)};
  }
  void PutDirectory(const std::string& path) { nodes_[path] = {true, false, {}}; }
  void MarkReadOnly(const std::string& path) { nodes_.at(path).read_only = true; }
  const Node* Find(const std::string& path) const {
    auto found = nodes_.find(path);
    return found == nodes_.end() ? nullptr : &found->second;
  }

  std::optional<FileStatus> Status(const std::string& path) override {
    const Node* node = Find(path);
    if (node == nullptr) return std::nullopt;
    FileStatus status;
    status.is_directory = node->is_directory;
    status.is_regular = !node->is_directory;
    status.read_only = node->read_only;
    status.stamp = StampOf(path, *node);
    return status;
  }
  bool MakeDirectory(const std::string& path) override {
    const size_t separator = path.find_last_of(kPathSeparator);
    if (separator != std::string::npos && separator != 0) {
      const Node* parent = Find(path.substr(0, separator));
      if (parent == nullptr || !parent->is_directory) return false;
    }
    return nodes_.emplace(path, Node{true, false, {}}).second;
  }
  bool RemoveDirectory(const std::string& path) override {
    const Node* node = Find(path);
    if (node == nullptr || !node->is_directory) return false;
    nodes_.erase(path);
    return true;
  }
  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    const Node* node = Find(path);
    if (node == nullptr || !node->is_directory) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    const std::string prefix = path + kPathSeparator;
    for (auto it = nodes_.lower_bound(prefix); it != nodes_.end(); ++it) {
      if (it->first.compare(0, prefix.size(), prefix) != 0) break;
      std::string name = it->first.substr(prefix.size());
      if (name.find(kPathSeparator) == std::string::npos) {
        entries.push_back({name, it->second.is_directory, !it->second.is_directory});
      }
    }
    return entries;
  }
  ReadOutcome ViewFile(const std::string& path, size_t limit,
                       std::unique_ptr<FileView>& view) override {
    const Node* node = Find(path);
    if (node == nullptr || node->is_directory) return ReadOutcome::kCannotOpen;
    if (node->bytes.size() > limit) return ReadOutcome::kTooLarge;
    view = std::make_unique<MemoryView>(node->bytes, StampOf(path, *node));
    return ReadOutcome::kOk;
  }
  std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                std::string& path) override {
    path = NewTemporaryPathFor(target);
    Node& node = nodes_[path];
    return std::make_unique<MemoryFile>(node.bytes);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    auto found = nodes_.find(from);
    if (found == nodes_.end()) return false;
    Node moved = std::move(found->second);
    nodes_.erase(found);
    nodes_[to] = std::move(moved);
    return true;
  }
  bool DeleteFile(const std::string& path) override {
    const Node* node = Find(path);
    if (node == nullptr || node->is_directory || node->read_only) return false;
    nodes_.erase(path);
    return true;
  }
  DeleteOutcome DeleteFileIfUnchanged(const std::string& path, const FileStamp& expected) override {
    const Node* node = Find(path);
    if (node == nullptr) return DeleteOutcome::kNotFound;
    if (node->is_directory) return DeleteOutcome::kFailed;
    if (!(StampOf(path, *node) == expected)) return DeleteOutcome::kChanged;
    nodes_.erase(path);
    return DeleteOutcome::kDeleted;
  }
  LockAttempt TryLock(const std::string&) override { return {std::make_unique<FileLock>(), false}; }

 private:
  // Nothing else changes the nodes while a view is held.
  class MemoryView final : public FileView {
   public:
    MemoryView(std::string_view bytes, const FileStamp& stamp) : bytes_(bytes), stamp_(stamp) {}
    std::string_view bytes() const override { return bytes_; }
    const FileStamp& stamp() const override { return stamp_; }
    bool Release() override { return true; }

   private:
    std::string_view bytes_;
    FileStamp stamp_;
  };

  class MemoryFile final : public WritableFile {
   public:
    explicit MemoryFile(std::string& bytes) : bytes_(bytes) {}
    bool Write(std::string_view bytes) override {
      bytes_.append(bytes);
      return true;
    }
    bool Flush() override { return true; }
    bool Close() override { return true; }

   private:
    std::string& bytes_;
  };

  // A file's identity is its name here; its state, its size.
  static FileStamp StampOf(const std::string& path, const Node& node) {
    return {0, std::hash<std::string>()(path), node.bytes.size(), 0};
  }

  std::map<std::string, Node> nodes_;
};

}  // namespace quorvane::testing
