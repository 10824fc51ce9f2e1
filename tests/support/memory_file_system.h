#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "storage/file_system.h"

namespace quorvane::testing {

// A file system held in memory: a dialog test that needs no real disk stays hermetic (a read-only
// mark is a flag, not a permission that root ignores), and a benchmark of the drop-folder run
// measures the run and not the disk. Paths are plain keys; a folder is a key without contents, made
// one level at a time as on a disk.
//
// It also models what a power cut may take away, the way a journalling file system does: a file's
// bytes are on the disk only once flushed, and a folder's changes (names made, moved, deleted)
// only once the folder is synced, each folder's changes in the order they were made. After
// CutPowerAfter(n) the n-th change is the last one made; CrashStates() then lists every state
// the disk may be found in after the cut.
class MemoryFileSystem final : public FileSystem {
 public:
  struct Node {
    bool is_directory = false;
    bool read_only = false;
    std::string bytes;
  };

  void PutFile(const std::string& path, std::string bytes) {
    const int file = NewFile();
    files_[file].bytes = std::move(bytes);
    Change({ChangeKind::kPut, path, {}, {false, file}});
  }
  void PutDirectory(const std::string& path) { Change({ChangeKind::kPut, path, {}, {true, -1}}); }
  void MarkReadOnly(const std::string& path) { files_.at(names_.at(path).file).read_only = true; }
  // What the name leads to now; nullptr when nothing.
  const Node* Find(const std::string& path) {
    auto found = names_.find(path);
    if (found == names_.end()) return nullptr;
    if (found->second.is_directory) {
      found_ = Node{true, false, {}};
    } else {
      const File& file = files_.at(found->second.file);
      found_ = Node{false, file.read_only, file.bytes};
    }
    return &found_;
  }
  // A program opens the file at `path` to write it while Quorvane holds it: it waits, and the
  // holder learns that it asked.
  void AskToWrite(const std::string& path) { files_.at(names_.at(path).file).asked_to_write++; }
  // Whether the copy that claimed the file at `path` can be told to have ended (CheckClaim): by
  // default as the views say; a test may say that a copy elsewhere holds it, or that nobody can
  // tell.
  void SetClaimState(const std::string& path, ClaimState state) {
    files_.at(names_.at(path).file).claim_state = state;
  }

  // Everything made so far is on the disk.
  void SyncAll() {
    durable_ = names_;
    pending_.clear();
    for (auto& [id, file] : files_) file.durable = file.bytes;
  }
  void CutPowerAfter(int changes) { cut_after_ = changes; }
  bool power_cut() const { return cut_after_ >= 0 && changes_ >= cut_after_; }
  int changes() const { return changes_; }
  // Every state the disk may be in after the cut: for each folder, any number of its unsynced
  // changes from the first on kept; for each file with unflushed bytes, those bytes kept, lost,
  // or cut off half-way.
  std::vector<MemoryFileSystem> CrashStates() const {
    std::vector<std::string> folders;
    for (const PendingChange& change : pending_) {
      if (std::find(folders.begin(), folders.end(), change.folder) == folders.end()) {
        folders.push_back(change.folder);
      }
    }
    std::vector<int> unflushed;
    for (const auto& [id, file] : files_) {
      if (file.bytes != file.durable) unflushed.push_back(id);
    }
    std::vector<MemoryFileSystem> states;
    std::vector<int> kept(folders.size(), 0);  // changes kept in each folder
    while (true) {
      std::map<std::string, Name> names = durable_;
      std::map<std::string, int> applied;
      for (const PendingChange& change : pending_) {
        const size_t folder = static_cast<size_t>(
            std::find(folders.begin(), folders.end(), change.folder) - folders.begin());
        if (applied[change.folder]++ < kept[folder]) Apply(change.change, names);
      }
      for (int fate = 0; fate < Power(3, unflushed.size()); ++fate) {
        MemoryFileSystem state;
        state.names_ = names;
        state.files_ = files_;
        state.next_file_ = next_file_;
        int rest = fate;
        for (int id : unflushed) {
          File& file = state.files_.at(id);
          if (rest % 3 == 1) file.bytes = file.durable;
          if (rest % 3 == 2) file.bytes = file.bytes.substr(0, file.bytes.size() / 2);
          rest /= 3;
        }
        for (auto& [id, file] : state.files_) file.asked_to_write = 0;
        state.SyncAll();
        states.push_back(std::move(state));
      }
      size_t next = 0;
      while (next < folders.size() && ++kept[next] > ChangesIn(folders[next])) kept[next++] = 0;
      if (next == folders.size()) break;
    }
    return states;
  }

  std::optional<FileStatus> Status(const std::string& path) override {
    auto found = names_.find(path);
    if (found == names_.end()) return std::nullopt;
    FileStatus status;
    status.is_directory = found->second.is_directory;
    status.is_regular = !status.is_directory;
    if (!status.is_directory) {
      const File& file = files_.at(found->second.file);
      status.read_only = file.read_only;
      status.stamp = StampOf(found->second.file, file);
    }
    return status;
  }
  bool MakeDirectory(const std::string& path) override {
    const size_t separator = path.find_last_of(kPathSeparator);
    if (separator != std::string::npos && separator != 0) {
      auto parent = names_.find(path.substr(0, separator));
      if (parent == names_.end() || !parent->second.is_directory) return false;
    }
    if (names_.count(path) != 0) return false;
    return Change({ChangeKind::kPut, path, {}, {true, -1}});
  }
  bool RemoveDirectory(const std::string& path) override {
    auto found = names_.find(path);
    if (found == names_.end() || !found->second.is_directory) return false;
    return Change({ChangeKind::kErase, path, {}, {}});
  }
  std::optional<std::vector<DirectoryEntry>> ListDirectory(const std::string& path) override {
    auto found = names_.find(path);
    if (found == names_.end() || !found->second.is_directory) return std::nullopt;
    std::vector<DirectoryEntry> entries;
    const std::string prefix = path + kPathSeparator;
    for (auto it = names_.lower_bound(prefix); it != names_.end(); ++it) {
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
    auto found = names_.find(path);
    if (found == names_.end() || found->second.is_directory) return ReadOutcome::kCannotOpen;
    const File& file = files_.at(found->second.file);
    if (file.bytes.size() > limit) return ReadOutcome::kTooLarge;
    view = std::make_unique<MemoryView>(*this, path, found->second.file);
    return ReadOutcome::kOk;
  }
  std::unique_ptr<WritableFile> CreateTemporary(const std::string& target,
                                                const std::optional<FileStatus>&, std::string& path,
                                                uint32_t) override {
    path = NewTemporaryPathFor(target);
    if (names_.count(path) != 0) return nullptr;
    const int file = NewFile();
    if (!Change({ChangeKind::kPut, path, {}, {false, file}})) return nullptr;
    return std::make_unique<MemoryFile>(*this, file);
  }
  bool Rename(const std::string& from, const std::string& to) override {
    if (names_.count(from) == 0) return false;
    return Change({ChangeKind::kMove, from, to, {}});
  }
  bool RenameNoReplace(const std::string& from, const std::string& to) override {
    if (names_.count(to) != 0) return false;
    return Rename(from, to);
  }
  bool SyncDirectory(const std::string& path) override {
    if (power_cut()) return false;
    std::vector<PendingChange> rest;
    for (PendingChange& change : pending_) {
      if (change.folder == path) {
        Apply(change.change, durable_);
      } else {
        rest.push_back(std::move(change));
      }
    }
    pending_ = std::move(rest);
    return true;
  }
  bool DeleteFile(const std::string& path) override {
    auto found = names_.find(path);
    if (found == names_.end() || found->second.is_directory ||
        files_.at(found->second.file).read_only) {
      return false;
    }
    return Change({ChangeKind::kErase, path, {}, {}});
  }
  LockAttempt TryLock(const std::string&) override { return {std::make_unique<FileLock>(), false}; }
  ClaimCheck CheckClaim(const std::string& path) override {
    auto found = names_.find(path);
    if (found == names_.end() || found->second.is_directory) return {};
    const File& file = files_.at(found->second.file);
    if (file.claim_state != ClaimState::kAbandoned) return {file.claim_state, nullptr};
    if (file.holders > 0) return {ClaimState::kHeld, nullptr};
    return {ClaimState::kAbandoned, std::make_unique<FileLock>()};
  }

 private:
  struct File {
    bool read_only = false;
    std::string bytes;
    std::string durable;                              // what a power cut leaves of the bytes
    int version = 0;                                  // counts the writes
    int asked_to_write = 0;                           // how often a program asked to write it
    int holders = 0;                                  // views of it still alive
    ClaimState claim_state = ClaimState::kAbandoned;  // what CheckClaim says beside the holders
  };
  struct Name {
    bool is_directory = false;
    int file = -1;
  };
  enum class ChangeKind { kPut, kErase, kMove };
  struct NameChange {
    ChangeKind kind;
    std::string path;
    std::string to;  // kMove
    Name name;       // kPut
  };
  struct PendingChange {
    std::string folder;
    NameChange change;
  };

  // Holds the file as a read lease would: a program that asks to write it meanwhile is noticed.
  class MemoryView final : public FileView {
   public:
    MemoryView(MemoryFileSystem& owner, std::string path, int file)
        : owner_(owner),
          path_(std::move(path)),
          file_(file),
          bytes_(owner.files_.at(file).bytes),
          stamp_(StampOf(file, owner.files_.at(file))),
          asked_(owner.files_.at(file).asked_to_write) {
      owner_.files_.at(file_).holders++;
    }
    ~MemoryView() override { LetGo(); }
    std::string_view bytes() const override { return bytes_; }
    const FileStamp& stamp() const override { return stamp_; }
    uint32_t permissions() const override { return 0644; }
    bool Release() override {
      LetGo();
      return Unwritten();
    }
    DeleteOutcome Delete() override {
      LetGo();
      // As on the disk: the name is claimed first, then checked, then deleted.
      if (!Unwritten()) return DeleteOutcome::kChanged;
      const std::string claim = NewClaimPathFor(path_);
      if (!owner_.RenameNoReplace(path_, claim)) {
        return owner_.names_.count(path_) == 0 ? DeleteOutcome::kNotFound : DeleteOutcome::kFailed;
      }
      if (owner_.names_.at(claim).file != file_) {
        static_cast<void>(owner_.RenameNoReplace(claim, path_));
        return DeleteOutcome::kReplaced;
      }
      if (!Unwritten()) {
        static_cast<void>(owner_.RenameNoReplace(claim, path_));
        return DeleteOutcome::kChanged;
      }
      if (!owner_.Change({ChangeKind::kErase, claim, {}, {}})) return DeleteOutcome::kFailed;
      return DeleteOutcome::kDeleted;
    }

   private:
    void LetGo() {
      if (held_) owner_.files_.at(file_).holders--;
      held_ = false;
    }
    bool Unwritten() const {
      auto found = owner_.files_.find(file_);
      return found != owner_.files_.end() && found->second.asked_to_write == asked_ &&
             StampOf(file_, found->second) == stamp_;
    }

    MemoryFileSystem& owner_;
    std::string path_;
    int file_;
    std::string bytes_;
    FileStamp stamp_;
    int asked_;
    bool held_ = true;
  };

  class MemoryFile final : public WritableFile {
   public:
    MemoryFile(MemoryFileSystem& owner, int file) : owner_(owner), file_(file) {}
    bool Write(std::string_view bytes) override {
      if (owner_.Dead()) return false;
      File& file = owner_.files_.at(file_);
      file.bytes.append(bytes);
      ++file.version;
      return true;
    }
    bool Flush() override {
      if (owner_.Dead()) return false;
      File& file = owner_.files_.at(file_);
      file.durable = file.bytes;
      return true;
    }
    bool Close() override { return true; }

   private:
    MemoryFileSystem& owner_;
    int file_;
  };

  static FileStamp StampOf(int id, const File& file) {
    return {0, static_cast<uint64_t>(id), file.bytes.size(), file.version};
  }
  static int Power(int base, size_t exponent) {
    int result = 1;
    for (size_t i = 0; i < exponent; ++i) result *= base;
    return result;
  }
  static std::string FolderOf(const std::string& path) {
    const size_t separator = path.find_last_of(kPathSeparator);
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
  }
  static void Apply(const NameChange& change, std::map<std::string, Name>& names) {
    switch (change.kind) {
      case ChangeKind::kPut:
        names[change.path] = change.name;
        break;
      case ChangeKind::kErase:
        names.erase(change.path);
        break;
      case ChangeKind::kMove:
        if (auto found = names.find(change.path); found != names.end()) {
          const Name moved = found->second;
          names.erase(found);
          names[change.to] = moved;
        }
        break;
    }
  }

  int ChangesIn(const std::string& folder) const {
    int count = 0;
    for (const PendingChange& change : pending_) count += change.folder == folder ? 1 : 0;
    return count;
  }
  int NewFile() {
    files_[next_file_] = File{};
    return next_file_++;
  }
  // After the cut nothing reaches the disk any more.
  bool Dead() {
    if (power_cut()) return true;
    ++changes_;
    return false;
  }
  bool Change(const NameChange& change) {
    if (Dead()) return false;
    Apply(change, names_);
    pending_.push_back({FolderOf(change.path), change});
    return true;
  }

  std::map<std::string, Name> names_;    // as the running program sees them
  std::map<std::string, Name> durable_;  // as they are on the disk
  std::vector<PendingChange> pending_;   // made since, in order
  std::map<int, File> files_;
  int next_file_ = 0;
  int changes_ = 0;
  int cut_after_ = -1;
  Node found_;
};

}  // namespace quorvane::testing
