#pragma once

// The exit statuses, the one place their numbers are written: the drop folder's run ends with
// one, and the command line answers with them too.
namespace quorvane {

// How a start of Quorvane ended, and the process exit status that tells a calling program so.
// Status 1 has three meanings, each named below; they are one value, so a switch names only the
// one it means.
enum class RunOutcome : int {
  kOk = 0,                 // a drop-folder run completed, the dialog closed, or an answer given
  kNoDialog = 1,           // the dialog had to be shown but could not be (no display, no front end)
  kNoDocumentsFolder = 1,  // no Documents folder at all: nothing was made anywhere
  kAnswerNotGiven = 1,     // --where, --help or --version could not give its answer
  kUsageError = 2,         // the command line was not understood
  kInputMissing = 10,      // AutoFile folder present, Bintake.tbin missing
  kInputEmpty = 11,        // Bintake.tbin has 0 bytes
  kInputUnreadable = 12,   // Bintake.tbin could not be opened or read
  kInputNotBinary = 13,    // a byte other than "0", "1", CR, LF
  kInputTooLarge = 14,     // more than kReadLimit bytes
  kLineTooLong = 15,       // a line of more than kMaxLineDigits digits: refused
  kResultNotWritten = 16,  // Decyield.tbin could not be written; Bintake.tbin kept
  kInputNotDeleted = 17,   // Decyield.tbin written, but Bintake.tbin could not be deleted
  kBusy = 18,              // another copy is working on the drop folder
  kInputChanged = 19,      // Bintake.tbin was written to during the run: kept for the next start
  kOutOfMemory = 20,       // not enough memory: nothing written, Bintake.tbin kept
};

inline int ExitStatus(RunOutcome outcome) { return static_cast<int>(outcome); }

}  // namespace quorvane
