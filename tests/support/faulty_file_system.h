#pragma once

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "storage/file_system.h"

namespace quorvane::testing {

// One step of file-system work that a test can make fail.
enum class FileStep {
  kStatus,
  kMakeDirectory,
  kRemoveDirectory,
  kList,
  kRead,
  kCreate,
  kWrite,
  kFlush,
  kClose,
  kRename,
  kDelete,  // a plain deletion, or the deletion of a file that was read
  kLock,
  kSync,  // a folder's changes put on the disk
};

// The real file system, except that a chosen call of a chosen step fails. A failing write puts
// half of its bytes on disk first, as a full disk would.
class FaultyFileSystem : public FileSystem {
 public:
  explicit FaultyFileSystem(FileSystem& real) : real_(real) {}

  // Makes the `nth` call (1-based) of `step` on a path containing `path_part` fail with the
  // system's error `code`; with nth 0 every such call fails.
  void FailOn(FileStep step, std::string path_part = "", int nth = 0, int code = EIO) {
    fault_ = Fault{step, std::move(path_part), nth, code};
    matching_calls_ = 0;
  }
  // How many calls of each step were made.
  int calls(FileStep step) const {
    auto found = calls_.find(step);
    return found == calls_.end() ? 0 : found->second;
  }
  bool fault_hit() const { return fault_hit_; }
  // Runs `action` once, just before the first call of `step` on a path containing `path_part`:
  // what another program does at that moment (drops a file, holds one open, and so on).
  void Before(FileStep step, std::string path_part, std::function<void()> action) {
    hook_ = Hook{step, std::move(path_part), std::move(action)};
  }

  std::optional<FileStatus> Status(const std::string& path) override {
    if (Fails(FileStep::kStatus, path)) return std::nullopt;
    return real_.Status(path);
  }
  bool MakeDirectory(const std::string& path) override {
    return !Fails(FileStep::kMakeDirectory, path) && real_.MakeDirectory(path);
  }
  bool RemoveDirectory(const std::string& path) override {
    return !Fails(FileStep::kRemoveDirectory, path) && real_.RemoveDirectory(path);
  }
  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    if (Fails(FileStep::kList, path)) return std::nullopt;
    return real_.ListDirectory(path);
  }
  ReadOutcome ViewFile(const std::string& path, size_t limit,
                       std::unique_ptr<FileView>& view) override {
    if (Fails(FileStep::kRead, path)) return ReadOutcome::kCannotOpen;
    std::unique_ptr<FileView> real_view;
    const ReadOutcome outcome = real_.ViewFile(path, limit, real_view);
    if (real_view) view = std::make_unique<View>(*this, path, std::move(real_view));
    return outcome;
  }
  std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                const std::optional<FileStatus>& replaced,
                                                std::string& path, uint32_t readable) override {
    if (Fails(FileStep::kCreate, target)) return nullptr;
    auto file = real_.CreateTemporary(target, replaced, path, readable);
    if (!file) return nullptr;
    return std::make_unique<File>(*this, path, std::move(file));
  }
  bool Rename(const std::string& from, const std::string& to) override {
    return !Fails(FileStep::kRename, to) && real_.Rename(from, to);
  }
  bool RenameNoReplace(const std::string& from, const std::string& to) override {
    return !Fails(FileStep::kRename, to) && real_.RenameNoReplace(from, to);
  }
  bool SyncDirectory(const std::string& path) override {
    return !Fails(FileStep::kSync, path) && real_.SyncDirectory(path);
  }
  bool DeleteFile(const std::string& path) override {
    return !Fails(FileStep::kDelete, path) && real_.DeleteFile(path);
  }
  LockAttempt TryLock(const std::string& path) override {
    if (Fails(FileStep::kLock, path)) return {};
    return real_.TryLock(path);
  }
  ClaimCheck CheckClaim(const std::string& path) override {
    if (Fails(FileStep::kLock, path)) return {};
    return real_.CheckClaim(path);
  }

 private:
  struct Fault {
    FileStep step;
    std::string path_part;
    int nth;
    int code;
  };
  struct Hook {
    FileStep step;
    std::string path_part;
    std::function<void()> action;
  };

  class View : public FileView {
   public:
    View(FaultyFileSystem& owner, std::string path, std::unique_ptr<FileView> real)
        : owner_(owner), path_(std::move(path)), real_(std::move(real)) {}
    std::string_view bytes() const override { return real_->bytes(); }
    const FileStamp& stamp() const override { return real_->stamp(); }
    uint32_t permissions() const override { return real_->permissions(); }
    std::string left_under() const override { return real_->left_under(); }
    bool Release() override { return real_->Release(); }
    DeleteOutcome Delete() override {
      if (owner_.Fails(FileStep::kDelete, path_)) {
        static_cast<void>(real_->Release());
        return DeleteOutcome::kFailed;
      }
      return real_->Delete();
    }

   private:
    FaultyFileSystem& owner_;
    std::string path_;
    std::unique_ptr<FileView> real_;
  };

  class File : public WritableFile {
   public:
    File(FaultyFileSystem& owner, std::string path, std::unique_ptr<WritableFile> real)
        : owner_(owner), path_(std::move(path)), real_(std::move(real)) {}
    bool Write(std::string_view bytes) override {
      if (owner_.Fails(FileStep::kWrite, path_)) {
        static_cast<void>(real_->Write(bytes.substr(0, bytes.size() / 2)));
        return false;
      }
      return real_->Write(bytes);
    }
    bool Flush() override { return !owner_.Fails(FileStep::kFlush, path_) && real_->Flush(); }
    bool Close() override {
      bool closed = real_->Close();
      return !owner_.Fails(FileStep::kClose, path_) && closed;
    }

   private:
    FaultyFileSystem& owner_;
    std::string path_;
    std::unique_ptr<WritableFile> real_;
  };

  bool Fails(FileStep step, const std::string& path) {
    ++calls_[step];
    if (hook_ && hook_->step == step && path.find(hook_->path_part) != std::string::npos) {
      auto action = std::move(hook_->action);
      hook_.reset();
      action();
    }
    if (!fault_ || fault_->step != step || path.find(fault_->path_part) == std::string::npos) {
      return false;
    }
    ++matching_calls_;
    if (fault_->nth != 0 && matching_calls_ != fault_->nth) return false;
    fault_hit_ = true;
    Failed(OperationOf(step), path, fault_->code);
    return true;
  }

  static FileOperation OperationOf(FileStep step) {
    switch (step) {
      case FileStep::kStatus:
        return FileOperation::kStatus;
      case FileStep::kMakeDirectory:
        return FileOperation::kMakeFolder;
      case FileStep::kRemoveDirectory:
        return FileOperation::kRemoveFolder;
      case FileStep::kList:
        return FileOperation::kList;
      case FileStep::kRead:
        return FileOperation::kRead;
      case FileStep::kCreate:
        return FileOperation::kCreate;
      case FileStep::kWrite:
        return FileOperation::kWrite;
      case FileStep::kFlush:
        return FileOperation::kFlush;
      case FileStep::kClose:
        return FileOperation::kClose;
      case FileStep::kRename:
        return FileOperation::kRename;
      case FileStep::kDelete:
        return FileOperation::kDelete;
      case FileStep::kLock:
        return FileOperation::kLock;
      case FileStep::kSync:
        return FileOperation::kSyncFolder;
    }
    return FileOperation::kStatus;
  }

  FileSystem& real_;
  std::optional<Fault> fault_;
  std::optional<Hook> hook_;
  int matching_calls_ = 0;
  bool fault_hit_ = false;
  std::map<FileStep, int> calls_;
};

}  // namespace quorvane::testing
