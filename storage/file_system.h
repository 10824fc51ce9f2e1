#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane {

// Paths are UTF-8 text with the platform's own separator.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Which file a name led to, and in what state: the same device, file number, size and
// modification time mean the same file, unchanged.
struct FileStamp {
  uint64_t device = 0;
  uint64_t file = 0;  // the inode, or the file index on Windows
  uint64_t size = 0;
  int64_t modified = 0;  // in the platform's own units
  // When the file's status last changed (POSIX ctime, in nanoseconds; 0 where there is none):
  // every write moves it, and unlike the modification time nobody can set it back. A rename of
  // the file moves it too.
  int64_t changed = 0;
  bool operator==(const FileStamp&) const = default;
  // The same file with the same size and modification time, whatever its status change time.
  bool SameContentsAs(const FileStamp& other) const {
    return device == other.device && file == other.file && size == other.size &&
           modified == other.modified;
  }
};

struct FileStatus {
  bool is_directory = false;
  bool is_regular = false;   // a plain file, not a folder, pipe or device
  bool is_link = false;      // the name itself is a symbolic link (the rest describes its target)
  bool read_only = false;    // no one may write it (read-only attribute, or no write bit at all)
  bool owned = false;        // the running user owns it (POSIX; false where files have no owner)
  uint32_t permissions = 0;  // its permission bits (POSIX; 0 elsewhere)
  FileStamp stamp;
  uint64_t size() const { return stamp.size; }
};

// A step of file-system work, for saying which one failed.
enum class FileOperation {
  kStatus,
  kOpen,
  kRead,
  kCreate,
  kWrite,
  kFlush,  // putting a file's bytes on the disk
  kClose,
  kRename,
  kSyncFolder,  // putting a folder's names on the disk
  kDelete,
  kList,
  kLock,
  kMakeFolder,
  kRemoveFolder,
};

// Why a step failed when the system gave no error of its own for it.
enum class FileFailure {
  kSystem,            // the system's error, `code`
  kHeldForWriting,    // another program holds the file open for writing
  kChangedWhileRead,  // the file changed while it was read
  kNotAPlainFile,     // a folder, a pipe or a device where a plain file belongs
  kMarkedReadOnly,    // a plain file that nobody may write, which is left as it is
};

// Why a step failed: which step, on which path, and the system's own error (errno on Linux,
// GetLastError on Windows).
struct FileError {
  FileOperation operation = FileOperation::kStatus;
  std::string path;
  int code = 0;  // the system's error; 0 with kSystem: no step failed
  FileFailure failure = FileFailure::kSystem;
  explicit operator bool() const { return code != 0 || failure != FileFailure::kSystem; }
};

// The step that failed last on this thread, as errno is the error of the last call: every
// FileSystem, WritableFile and FileView sets it when a step fails (and only then), so whoever is
// about to report a failure clears it first and reads it after.
FileError& LastFileError();
// Records that `operation` on `path` failed with the system's `code` (or for `failure`); returns
// false, for `return Failed(...)` where a step reports failure.
bool Failed(FileOperation operation, const std::string& path, int code);
bool Failed(FileOperation operation, const std::string& path, FileFailure failure);
// The system's own words for an error code, in the user's language where the system has them.
std::string SystemErrorText(int code);

struct DirectoryEntry {
  std::string name;
  bool is_directory = false;  // a folder itself, never a link to one
  bool is_regular = false;    // a plain file itself, never a link to one
};

// A file opened for writing; closing it is part of writing it, so Close reports failures too.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  [[nodiscard]] virtual bool Write(std::string_view bytes) = 0;
  // Puts what was written on the disk itself, so that it survives a crash.
  [[nodiscard]] virtual bool Flush() = 0;
  [[nodiscard]] virtual bool Close() = 0;
};

// How deleting a file that was read ended.
enum class DeleteOutcome {
  kDeleted,
  kNotFound,  // nothing by that name any more
  kReplaced,  // the name leads to another file now, which is left where it is
  kChanged,   // the same file, written to (or opened to be written) since it was read: kept
  kFailed,    // kept, where it was
};

// A whole file's bytes, held so that they cannot change while they are looked at: on Linux under
// a read lease, which makes a program that opens the file to write wait until the view is
// released; on Windows through a handle that shuts writers out. The view is held until what was
// made of the bytes is safely stored, so that the decision to delete the file is made while
// writers are still shut out.
class FileView {
 public:
  virtual ~FileView() = default;
  virtual std::string_view bytes() const = 0;
  // Which file was viewed, and in what state.
  virtual const FileStamp& stamp() const = 0;
  // Its permission bits (rwx for owner, group and others, as on POSIX; 0666 or 0444 on Windows),
  // so that what is made of it grants nobody a read it did not grant.
  virtual uint32_t permissions() const = 0;
  // Lets go of the file. False when it was written to, or a program asked to write it, while it
  // was viewed: the bytes seen are then not the file's.
  [[nodiscard]] virtual bool Release() = 0;
  // Deletes the file by the name it was viewed under, and lets go of it. Only the very file that
  // was viewed is deleted, only when nobody wrote it or asked to since, and with no moment
  // between that check and the deletion: anything else found under the name is left (or put
  // back) where it was. A link is deleted as a link; no file's mode is changed on the way.
  [[nodiscard]] virtual DeleteOutcome Delete() = 0;
  // After Delete: the private name the file was left under because it could not be put back
  // under its own (a new file took the name meanwhile, or the file system cannot move a file
  // without the risk of replacing another); empty when it is under its own name, or gone.
  virtual std::string left_under() const { return {}; }
};

// Held while one copy of Quorvane works on the drop folder; released when destroyed, or by the
// system when the process dies.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// Whether a copy that is still at work holds a claimed file (see NewClaimPathFor).
enum class ClaimState {
  kAbandoned,  // nobody holds it: the copy that claimed it has ended
  kHeld,       // a copy at work holds it
  kUnknown,    // it cannot be told (the file cannot be opened, or not locked here)
};

// Everything Quorvane does to the file system goes through this interface, one call per step, so
// that tests can make any single step fail.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // nullopt when the status cannot be queried (absent, or access denied). Symbolic links are
  // followed; a dangling one counts as absent.
  [[nodiscard]] virtual std::optional<FileStatus> Status(const std::string& path) = 0;
  // Creates one folder level, which its owner may always read and write; false when it exists
  // already or cannot be made.
  virtual bool MakeDirectory(const std::string& path) = 0;
  // Removes an empty folder.
  virtual bool RemoveDirectory(const std::string& path) = 0;
  // nullopt when the folder cannot be listed. "." and ".." are not listed.
  [[nodiscard]] virtual std::optional<std::vector<DirectoryEntry>> ListDirectory(
      const std::string& path) = 0;

  enum class ReadOutcome {
    kOk,
    kCannotOpen,  // absent, not a plain file, or not readable
    kTooLarge,
    kBusy,  // another program holds it open for writing, or it changed while it was read
  };
  // Views the whole file when it has at most `limit` bytes. Only plain files are viewed, and
  // nothing waits for a pipe or a device; a file another program holds open for writing gives
  // kBusy. `view` is set only with kOk.
  [[nodiscard]] virtual ReadOutcome ViewFile(const std::string& path, size_t limit,
                                             std::unique_ptr<FileView>& view) = 0;
  // The same, as a copy of the bytes; `stamp`, when given, receives which file was read. kBusy
  // also when the file changed while it was read.
  [[nodiscard]] ReadOutcome ReadFile(const std::string& path, size_t limit, std::string& bytes,
                                     FileStamp* stamp);

  // Creates a new file under a name of its own beside `target` (see TemporaryPathFor), never
  // opening anything that stood there and never following a link. It takes the mode of a plain
  // file at `target` that the running user owns (never of one planted by someone else, nor of a
  // link's target), else the usual one for new files; its owner may always read and write it,
  // and group and others get no read bit that `readable` lacks. `replaced` is what Status said
  // of `target` just before (the caller has asked already; it is not asked again). nullptr when
  // no such file can be made; `path` receives its name otherwise.
  [[nodiscard]] virtual std::unique_ptr<WritableFile> CreateTemporary(
      const std::string& target, const std::optional<FileStatus>& replaced, std::string& path,
      uint32_t readable) = 0;
  // Moves `from` onto `to` in one step, replacing whatever file or link is at `to`. The move is
  // durable only once the folder is synced (SyncDirectory).
  [[nodiscard]] virtual bool Rename(const std::string& from, const std::string& to) = 0;
  // The same, but never replaces anything that stands at `to`: fails instead. A link is moved as
  // a link. Where the file system has no such move (network and FUSE file systems), a second
  // name is made and the first removed; where it cannot make one either, this fails.
  [[nodiscard]] virtual bool RenameNoReplace(const std::string& from, const std::string& to) = 0;
  // Puts the folder's own changes (names made, moved, deleted in it) on the disk.
  [[nodiscard]] virtual bool SyncDirectory(const std::string& path) = 0;
  // Deletes a file or a link (never a link's target). Fails on a plain file marked read-only, as
  // on Windows, whoever runs us.
  virtual bool DeleteFile(const std::string& path) = 0;

  struct LockAttempt {
    std::unique_ptr<FileLock> lock;  // taken
    bool held_elsewhere = false;     // another running copy holds it
  };
  // Takes the exclusive lock of the folder `folder` without waiting. On Linux the folder itself is
  // locked: every account that may read it can take the lock, and nobody can swap the folder
  // under a copy at work without the right to write its parent. On Windows a file
  // "Quorvane.lock" in it is held open, shared with nobody (a link there is never followed).
  // Neither taken nor held elsewhere: it cannot be had at all.
  [[nodiscard]] virtual LockAttempt TryLock(const std::string& folder) = 0;

  struct ClaimCheck {
    ClaimState state = ClaimState::kUnknown;
    // With kAbandoned: held until destroyed, so that no copy takes the file up meanwhile.
    std::unique_ptr<FileLock> hold;
  };
  // Whether a copy at work still holds the claimed file at `path`. A copy holds every input it
  // reads (FileView) until it lets go of it, and the system lets go for a copy that dies.
  [[nodiscard]] virtual ClaimCheck CheckClaim(const std::string& path) = 0;
};

// The file system of the machine the program runs on.
FileSystem& RealFileSystem();

// A new name for a temporary file beside `target`: "<target>.<six random letters and
// digits>.partial".
std::string NewTemporaryPathFor(const std::string& target);
// A new private name beside `target` that a file is moved to before it is deleted:
// "<target>.<six random letters and digits>.claim".
std::string NewClaimPathFor(const std::string& target);
// Whether a name in the folder of a file named `target_name` is one of its claims.
bool IsClaimNameFor(std::string_view name, std::string_view target_name);
// Starts the random names over from `seed`, so that a test knows the next ones beforehand.
void SeedPrivateNames(uint64_t seed);
// Whether a name in the folder of a file named `target_name` is one of its temporaries, from this
// or an earlier version ("<target_name>.partial").
bool IsTemporaryNameFor(std::string_view name, std::string_view target_name);

}  // namespace quorvane
