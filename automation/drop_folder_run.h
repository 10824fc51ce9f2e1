#pragma once

#include <cstdint>
#include <string>

#include "automation/exit_status.h"
#include "storage/file_system.h"
#include "storage/folder_tree.h"

namespace quorvane {

// What a drop-folder run reports as it goes. The run only reports; whoever started it decides
// what to show (the dialog its progress bar, a calling program's --batch nothing at all).
class RunProgress {
 public:
  virtual ~RunProgress() = default;
  // The input was read and checked, and the run begins to show its progress, out of `total` steps
  // (see ProgressSchedule). The text was split and converted already, to be checked whole before
  // anything is written: the splitting and converting steps told from here on are a replay of
  // the schedule, not work under way.
  virtual void Begin(uint64_t /*total*/) {}
  // The steps from `from` up to before `to` were made, of `total`; the last of them is worth
  // showing, the rest only as far as anyone could see them.
  virtual void Steps(uint64_t /*from*/, uint64_t /*to*/, uint64_t /*total*/) {}
  // The count starts over, at 0, out of a new total.
  virtual void Restart(uint64_t /*total*/) {}
  // One step, `position` of `total`.
  virtual void Step(uint64_t /*position*/, uint64_t /*total*/) {}
  // The input file is gone and the result in place; the run takes its last step next.
  virtual void Settle() {}
};

// What else a drop-folder run has to say beside its outcome.
struct RunDetails {
  // The input's size and its non-empty lines, once it was read (and, for the lines, converted).
  uint64_t input_bytes = 0;
  uint64_t lines = 0;
  // The input is kept under this private name (see NewClaimPathFor), not as Bintake.tbin: it
  // could not be put back under its own. Empty when it is not.
  std::string input_left_under;
  // With kResultNotWritten: the new result stands in place all the same, but its folder could
  // not be put on the disk, so a power cut may take it back.
  bool result_in_place = false;
  // The file-system step that failed, for the outcomes that a failed step ends (12, 16, 17).
  FileError cause;
  // With kInputMissing for --batch: the AutoFile folder, which is not there at all.
  std::string missing_drop_folder;
  // With kInputNotBinary and kLineTooLong: the number, from 1, of the line that refused the file.
  uint64_t fault_line = 0;
};

// One automatic run of the drop folder, the folders below the Documents folder made already:
// takes the lock, puts back an input a killed run had claimed, checks and reads Bintake.tbin,
// converts it while it stays held, writes Decyield.tbin and deletes the input only once the
// result is safely on disk. Returns how it ended, and `details` what else it has to say. Begin is
// reported only once the input was read and checked: an outcome before it wrote nothing (at most
// a killed run's claim went back under its own name).
[[nodiscard]] RunOutcome RunDropFolder(FileSystem& files, const FolderTree& folders,
                                       RunProgress& progress, RunDetails* details = nullptr);

// Makes the folders a run needs below the maker folder (the data root, Result and temp), each
// only if it is not there; what cannot be made shows later as the step that needs it failing.
void MakeDataFolders(FileSystem& files, const FolderTree& folders);

}  // namespace quorvane
