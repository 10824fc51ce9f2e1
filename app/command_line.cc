#include "app/command_line.h"

#include "ui/run_outcome.h"
#include "version.h"

namespace quorvane {
namespace {

// Kept in step with docs/quorvane.1, which says the same at more length; a test compares the
// options and the exit statuses of the two.
constexpr std::string_view kUsage =
    R"(Usage: quorvane [--dialog | --help | --version]

Converts unsigned binary numbers (texts of 0 and 1) to decimal, in a dialog or unattended.
Drop folder: while AutoFile exists, a start with no arguments converts AutoFile/Bintake.tbin
  into Result/Decyield.tbin, deletes the input, and ends without showing the dialog.

Options:
  --dialog   open the dialog even while AutoFile exists; no automatic run
  --help     print this help and end
  --version  print the version and end

Exit status:
  0   converted; or the dialog was closed normally (the input file is deleted)
  1   the dialog could not be shown (no display, or the Qt 6 libraries are missing),
      or no Documents folder could be found
  2   the command line was not understood
  10  AutoFile exists, but Bintake.tbin does not
  11  Bintake.tbin has 0 bytes
  12  Bintake.tbin could not be read (another program still has it open to write, say)
  13  Bintake.tbin holds a byte other than 0, 1, CR and LF
  14  Bintake.tbin is larger than 2,077,000 bytes
  15  a line has more than 31 digits
  16  Decyield.tbin could not be written
  17  Decyield.tbin was written, but Bintake.tbin could not be deleted
  18  another copy of Quorvane is working on the drop folder
  19  Bintake.tbin was written to during the run; Decyield.tbin holds what was read
  20  not enough memory
  On every status but 0 the input file is kept.

Files, under the Documents folder (XDG_DOCUMENTS_DIR, else ~/Documents):
  Brenvale/MFCQuorvane/AutoFile/Bintake.tbin  input: one binary number per line
  Brenvale/MFCQuorvane/Result/Decyield.tbin   result: one decimal number per line, CR LF
  Brenvale/MFCQuorvane/temp/Quorvane.tmp      the dialog's two check boxes
  Brenvale/MFCQuorvane/temp/Quorvane.lock     held while a copy works on the drop folder

The manual page quorvane(1) has the details.
)";

// Prints and flushes; false when the text did not reach its destination (a full disk, a closed
// pipe).
bool Print(std::FILE* stream, std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stream) == text.size() &&
         std::fflush(stream) == 0;
}

}  // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine command_line;
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--dialog") {
      command_line.dialog = true;
    } else if (argument == "--help") {
      help = true;
    } else if (argument == "--version") {
      version = true;
    } else {
      command_line.action = CommandLine::Action::kUsageError;
      command_line.error = std::string(argument.starts_with('-') ? "unrecognized option '"
                                                                 : "unexpected argument '") +
                           std::string(argument) + "'";
      return command_line;
    }
  }
  if (help) {
    command_line.action = CommandLine::Action::kHelp;
  } else if (version) {
    command_line.action = CommandLine::Action::kVersion;
  }
  return command_line;
}

int AnswerCommandLine(const CommandLine& command_line, std::FILE* out, std::FILE* error_out) {
  switch (command_line.action) {
    case CommandLine::Action::kHelp:
      return Print(out, kUsage) ? 0 : 1;
    case CommandLine::Action::kVersion:
      return Print(out, "quorvane " QUORVANE_VERSION "\n") ? 0 : 1;
    case CommandLine::Action::kUsageError:
      Print(error_out,
            "quorvane: " + command_line.error + "\nTry 'quorvane --help' for more information.\n");
      return ExitStatus(RunOutcome::kUsageError);
    case CommandLine::Action::kRun:
      break;
  }
  return ExitStatus(RunOutcome::kOk);
}

std::string_view UsageText() { return kUsage; }

}  // namespace quorvane
