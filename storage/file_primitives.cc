#include "storage/file_primitives.h"

#include <optional>
#include <vector>

namespace quorvane {
namespace {

std::string_view NameOf(std::string_view path) {
  const size_t separator = path.find_last_of(kPathSeparator);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string_view FolderOf(std::string_view path) {
  const size_t separator = path.find_last_of(kPathSeparator);
  return separator == std::string_view::npos ? std::string_view(".") : path.substr(0, separator);
}

}  // namespace

bool DirectoryExists(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  return status && status->is_directory;
}

bool FileExists(FileSystem& fs, const std::string& path) {
  auto status = fs.Status(path);
  return status && !status->is_directory;
}

FileContents ReadWholeFile(FileSystem& fs, const std::string& path) {
  FileContents contents;
  contents.outcome = fs.ReadFile(path, kReadLimit, contents.bytes, &contents.stamp);
  return contents;
}

Replacing::Replacing(FileSystem& fs, std::string path, uint32_t readable)
    : fs_(fs), path_(std::move(path)) {
  // Permission bits do not stop every user (root writes anywhere), so a read-only mark is
  // honoured here rather than left to the system.
  const std::optional<FileStatus> status = fs_.Status(path_);
  if (status && !status->is_link) {
    if (status->is_directory) {
      Failed(FileOperation::kRename, path_, FileFailure::kNotAPlainFile);
      Fail();
      return;
    }
    if (status->read_only) {
      Failed(FileOperation::kRename, path_, FileFailure::kMarkedReadOnly);
      Fail();
      return;
    }
  }
  file_ = fs_.CreateTemporary(path_, status, temporary_, readable);
  if (!file_) Fail();
}

Replacing::~Replacing() {
  // What went wrong stays what is reported, whatever tidying up meets.
  const FileError reported = LastFileError();
  if (file_) static_cast<void>(file_->Close());
  file_.reset();
  if (!temporary_.empty()) fs_.DeleteFile(temporary_);
  LastFileError() = reported;
}

void Replacing::Fail() {
  if (!error_) error_ = LastFileError();
  if (file_) static_cast<void>(file_->Close());
  file_.reset();
}

void Replacing::Write(std::string_view bytes) {
  if (file_ && !file_->Write(bytes)) Fail();
}

Replacement Replacing::Commit() {
  if (!file_) return {};
  if (!file_->Flush()) {
    Fail();
    return {};
  }
  const bool closed = file_->Close();
  file_.reset();
  if (!closed || !fs_.Rename(temporary_, path_)) {
    Fail();
    return {};
  }
  temporary_.clear();
  // Until its folder is synced, a power cut may take the new name away again; whoever deletes the
  // input after this must be able to count on the result.
  if (!fs_.SyncDirectory(std::string(FolderOf(path_)))) {
    Fail();
    return {false, true};
  }
  return {true, true};
}

Replacement ReplaceFileSafely(FileSystem& fs, const std::string& path, std::string_view bytes,
                              uint32_t readable) {
  Replacing replacing(fs, path, readable);
  replacing.Write(bytes);
  const Replacement done = replacing.Commit();
  if (!done) LastFileError() = replacing.error();
  return done;
}

void RemoveLeftoverTemporaries(FileSystem& fs, const std::string& path) {
  const std::string folder(FolderOf(path));
  auto entries = fs.ListDirectory(folder);
  if (!entries) return;
  for (const DirectoryEntry& entry : *entries) {
    if (entry.is_regular && IsTemporaryNameFor(entry.name, NameOf(path))) {
      fs.DeleteFile(folder + kPathSeparator + entry.name);
    }
  }
}

ClaimsFound RestoreClaimedFiles(FileSystem& fs, const std::string& path) {
  ClaimsFound found;
  const std::string folder(FolderOf(path));
  auto entries = fs.ListDirectory(folder);
  if (!entries) return found;
  // Every claim is looked at before any is moved: one that a copy at work holds means the folder
  // is that copy's, and then nothing is touched at all. The others stay held meanwhile, so that
  // no copy takes them up until they are back.
  struct Abandoned {
    std::string claim;
    std::unique_ptr<FileLock> hold;
  };
  std::vector<Abandoned> abandoned;
  for (const DirectoryEntry& entry : *entries) {
    if (entry.is_directory || !IsClaimNameFor(entry.name, NameOf(path))) continue;
    std::string claim = folder + kPathSeparator + entry.name;
    FileSystem::ClaimCheck check = fs.CheckClaim(claim);
    switch (check.state) {
      case ClaimState::kHeld:
        found.held = true;
        return found;
      case ClaimState::kUnknown:
        // Perhaps a copy without the means to lock is still at work on it: it stays.
        if (found.stranded.empty()) {
          found.stranded = claim;
          found.why_stranded = LastFileError();
        }
        break;
      case ClaimState::kAbandoned:
        abandoned.push_back({std::move(claim), std::move(check.hold)});
        break;
    }
  }
  for (const Abandoned& leftover : abandoned) {
    // The first one goes back under its name; any other stays claimed, beside it, until the name
    // is free again. Nothing that stands at the name is ever replaced.
    if (fs.RenameNoReplace(leftover.claim, path)) continue;
    const FileError why = LastFileError();
    std::optional<FileStatus> claimed = fs.Status(leftover.claim);
    std::optional<FileStatus> named = fs.Status(path);
    if (claimed && named && claimed->stamp.device == named->stamp.device &&
        claimed->stamp.file == named->stamp.file) {
      // Both names lead to one file: a copy died between making the second name and removing
      // the first. The claim is only a name too many, and would convert the file twice.
      fs.DeleteFile(leftover.claim);
    } else if (!named && found.stranded.empty()) {
      found.stranded = leftover.claim;
      found.why_stranded = why;
    }
  }
  return found;
}

}  // namespace quorvane
