#include "automation/drop_folder_run.h"

#include <memory>
#include <optional>

#include "automation/progress.h"
#include "convert/line_converter.h"
#include "storage/file_primitives.h"

namespace quorvane {
namespace {

// Finds and reads the input file. Sets `input` (still held) when it could be read; returns the
// outcome that ends the start otherwise.
std::optional<RunOutcome> ReadInput(FileSystem& files, const std::string& input_file,
                                    std::unique_ptr<FileView>& input) {
  const std::optional<FileStatus> status = files.Status(input_file);
  if (!status || status->is_directory) return RunOutcome::kInputMissing;
  if (status->size() == 0) return RunOutcome::kInputEmpty;
  // A file past the read limit is refused whole: converting a part of it and deleting it all
  // would lose the rest.
  if (status->size() > kReadLimit) return RunOutcome::kInputTooLarge;
  const FileSystem::ReadOutcome read = files.ViewFile(input_file, kReadLimit, input);
  if (read == FileSystem::ReadOutcome::kTooLarge) return RunOutcome::kInputTooLarge;
  if (read == FileSystem::ReadOutcome::kCannotOpen && !FileExists(files, input_file)) {
    // Taken by another copy running without the lock since it was found.
    return RunOutcome::kInputMissing;
  }
  // Unreadable, still held open by the program that writes it, or emptied since the size query:
  // there is nothing to convert yet, and the file stays for the next start.
  if (read != FileSystem::ReadOutcome::kOk) return RunOutcome::kInputUnreadable;
  if (input->bytes().empty()) {
    Failed(FileOperation::kRead, input_file, FileFailure::kChangedWhileRead);
    return RunOutcome::kInputUnreadable;
  }
  return std::nullopt;
}

RunOutcome OutcomeOfDeletion(DeleteOutcome removal) {
  switch (removal) {
    case DeleteOutcome::kDeleted:
    case DeleteOutcome::kNotFound:
    case DeleteOutcome::kReplaced:
      return RunOutcome::kOk;
    case DeleteOutcome::kChanged:
      // Lines written after the file was read were not converted; the file stays whole.
      return RunOutcome::kInputChanged;
    case DeleteOutcome::kFailed:
      // The next start would convert the same file again; say so rather than pretend success.
      break;
  }
  return RunOutcome::kInputNotDeleted;
}

}  // namespace

void MakeDataFolders(FileSystem& files, const FolderTree& folders) {
  if (!DirectoryExists(files, folders.data_root)) files.MakeDirectory(folders.data_root);
  files.MakeDirectory(folders.result);  // fails harmlessly when it is there already
  if (!DirectoryExists(files, folders.temp)) files.MakeDirectory(folders.temp);
}

RunOutcome RunDropFolder(FileSystem& files, const FolderTree& folders, RunProgress& progress,
                         RunDetails* details) {
  RunDetails unused;
  RunDetails& told = details != nullptr ? *details : unused;
  LastFileError() = {};
  // Two copies started on the same drop folder would race for one input file; the second one
  // leaves everything to the first and ends at once. Only a lock held by another running copy
  // means that; when no lock can be had at all (the temp folder missing, a file, or not
  // readable) the run goes on without it rather than refuse every start for good. Copies without
  // the lock cannot tear each other's result: each writes a temporary file of its own.
  FileSystem::LockAttempt lock = files.TryLock(folders.temp);
  if (lock.held_elsewhere) return RunOutcome::kBusy;
  const bool holds_lock = lock.lock != nullptr;
  const std::string input_file = folders.InputFile();
  // An input that a killed run had claimed for deletion goes back under its name first: it was
  // never converted for sure, so it is converted now or at a later start. A claim that a copy at
  // work holds means that copy has the folder, lock or no lock.
  const ClaimsFound claims = RestoreClaimedFiles(files, input_file);
  if (claims.held) return RunOutcome::kBusy;

  // The input stays held (nobody can write it unseen) until the result is on disk and the input
  // deleted, or the run ends otherwise; whatever ends the run early lets go of it unchanged.
  std::unique_ptr<FileView> input;
  if (std::optional<RunOutcome> early = ReadInput(files, input_file, input)) {
    if (*early == RunOutcome::kInputMissing && !claims.stranded.empty()) {
      // Not missing: an earlier run's input waits under its claim, and saying "missing" would
      // hide it. The caller learns where it is.
      told.input_left_under = claims.stranded;
      told.cause = claims.why_stranded;
      return RunOutcome::kInputNotDeleted;
    }
    if (*early == RunOutcome::kInputUnreadable) told.cause = LastFileError();
    return *early;
  }
  told.input_bytes = input->bytes().size();

  // The whole input is checked first: a refused input never touches the Result folder. (Checking
  // it, then converting it a small part at a time, costs less than holding its whole result in
  // fresh memory: the conversion writes through warm pages.)
  const LinesVerdict verdict = CheckLines(input->bytes());
  told.lines = verdict.line_count;
  told.fault_line = verdict.fault_line;
  if (verdict.not_binary) return RunOutcome::kInputNotBinary;

  ProgressSchedule schedule{input->bytes().size()};
  progress.Begin(schedule.SplitTotal());
  // One step per character of the text but its trailing line breaks, and the run stops here if a
  // line was too long: refused, Decyield.tbin untouched, the input stays for the next start.
  progress.Steps(0, TrimTrailingBreaks(input->bytes()).size(), schedule.SplitTotal());
  if (verdict.line_too_long) return RunOutcome::kLineTooLong;

  schedule.lines = verdict.line_count;
  progress.Restart(schedule.ConvertTotal());
  progress.Steps(schedule.AfterLine(0), schedule.AfterLine(schedule.lines),
                 schedule.ConvertTotal());
  progress.Step(schedule.AfterAllLines(), schedule.ConvertTotal());

  // What killed runs left behind goes first; only the lock's holder may tell it from the
  // temporary file of a copy still at work.
  const std::string result_file = folders.ResultFile();
  if (holds_lock) RemoveLeftoverTemporaries(files, result_file);
  // The result goes to a new file of its own beside Decyield.tbin a part at a time, and onto it
  // once whole. The input file is deleted only after the result is safely on disk, and only when
  // it is still the very file that was converted, unwritten since: one dropped in its place
  // meanwhile waits for the next start. The result grants nobody a read that the input did not.
  LastFileError() = {};
  Replacing result(files, result_file, input->permissions());
  ConvertLinesInParts(input->bytes(), [&result](std::string_view part) { result.Write(part); });
  const Replacement written = result.Commit();
  if (!written) {
    told.result_in_place = written.in_place;
    told.cause = result.error();
    return RunOutcome::kResultNotWritten;
  }
  LastFileError() = {};
  const RunOutcome outcome = OutcomeOfDeletion(input->Delete());
  told.input_left_under = input->left_under();
  if (outcome == RunOutcome::kInputNotDeleted) told.cause = LastFileError();
  input.reset();
  progress.Step(schedule.AfterDeletion(), schedule.ConvertTotal());
  progress.Settle();
  progress.Step(schedule.Done(), schedule.ConvertTotal());
  return outcome;
}

}  // namespace quorvane
