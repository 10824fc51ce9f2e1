#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "automation/batch.h"
#include "convert/binary_to_decimal.h"
#include "storage/folder_tree.h"
#include "ui/run_outcome.h"
#include "version.h"

namespace quorvane {
namespace {

// Kept in step with docs/quorvane.1, which says the same at more length; a test compares the
// options and the exit statuses of the two.
constexpr std::string_view kUsage =
    R"(Usage: quorvane [--dialog | --batch | --where | --help | --version]
       quorvane --convert [NUMBER...]

Converts unsigned binary numbers (texts of 0 and 1, at most 31 digits) to decimal: in a dialog,
for calling programs through the drop folder, or on the command line.

Options:
  --dialog   open the dialog even while AutoFile exists; no automatic run
  --batch    a calling program's run of the drop folder: never opens a window or waits
             for a person; one line on standard error on every status but 0
  --where    print the paths in use, one name=path line each, in this order:
             autofile= input= result= settings= (UTF-8); creates nothing
  --convert [NUMBER...]
             print each NUMBER's decimal value on a line of its own; without NUMBER,
             convert standard input as a drop file is read, line by line, of any length
  --help     print this help and end
  --version  print the version and end
On Windows each option may also be written /dialog, /batch, /where, /convert, /help,
/version, and /? is --help. Arguments that are not options are ignored.

Calling programs, safely:
  1. find the folders: quorvane --where
  2. write the input under another name in AutoFile, then rename it to Bintake.tbin
  3. run quorvane --batch and wait for it (Windows: start "" /wait Quorvane.exe /batch)
  4. read Result/Decyield.tbin only when the status is 0

Exit status:
  0   converted: Decyield.tbin is written and Bintake.tbin deleted (a start without
      options also ends 0 when a person closes the dialog; --batch never does)
  1   the dialog could not be shown (no display, or the Qt 6 libraries are missing),
      no Documents folder could be found, or --help, --version or --where could not
      write their text
  2   the command line was not understood
  10  Bintake.tbin is missing (or a folder); with --batch also when AutoFile is
  11  Bintake.tbin has 0 bytes
  12  Bintake.tbin could not be read: its writer still holds it open for writing, or a
      read error (--convert: standard input could not be read)
  13  a byte other than 0, 1, CR and LF; zero bytes that only trail the text end it
      (--convert: the message names the argument or the line)
  14  Bintake.tbin is larger than 2,077,000 bytes
  15  a line has more than 31 digits (--convert: the message names the argument or line)
  16  Decyield.tbin could not be written (--convert: standard output could not be written)
  17  Decyield.tbin was written, but Bintake.tbin could not be deleted
  18  another copy of Quorvane is working on the drop folder
  19  Bintake.tbin was written to during the run; Decyield.tbin holds what was read before
  20  not enough memory
  Bintake.tbin is deleted only on 0. On 19 it is kept with what its writer added; on
  every other status it is left as it was.

Files, under the Documents folder (XDG_DOCUMENTS_DIR, else ~/Documents):
  Brenvale/MFCQuorvane/AutoFile/Bintake.tbin  input: one binary number per line
  Brenvale/MFCQuorvane/Result/Decyield.tbin   result: one decimal number per line, CR LF
  Brenvale/MFCQuorvane/temp/Quorvane.tmp      the dialog's two check boxes
  Brenvale/MFCQuorvane/temp/Quorvane.lock     held while a copy works on the drop folder

The manual page quorvane(1) has the details and examples.
)";

struct Option {
  std::string_view name;  // without "--" or "/"
  CommandLine::Action action;
};

constexpr Option kOptions[] = {
    {"dialog", CommandLine::Action::kRun},  {"batch", CommandLine::Action::kBatch},
    {"where", CommandLine::Action::kWhere}, {"convert", CommandLine::Action::kConvert},
    {"help", CommandLine::Action::kHelp},   {"version", CommandLine::Action::kVersion},
};

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// The option `argument` names; nullptr when it is none. `unknown` is set for an argument written
// as an option that names none, which is an error.
const Option* FindOption(std::string_view argument, Spelling spelling, bool& unknown) {
  unknown = false;
  if (argument.starts_with("--")) {
    for (const Option& option : kOptions) {
      if (argument.substr(2) == option.name) return &option;
    }
    unknown = true;
    return nullptr;
  }
  if (argument.starts_with('-')) {
    unknown = true;
    return nullptr;
  }
  // Callers of a Windows program may pass words of their own after a slash: those are ignored.
  if (spelling == Spelling::kWindows && argument.starts_with('/')) {
    if (argument == "/?") return &kOptions[4];
    for (const Option& option : kOptions) {
      if (SameIgnoringCase(argument.substr(1), option.name)) return &option;
    }
  }
  return nullptr;
}

std::string_view HelpHint(Spelling spelling) {
  return spelling == Spelling::kWindows ? "Try 'Quorvane.exe /?' for more information.\n"
                                        : "Try 'quorvane --help' for more information.\n";
}

void Fail(StandardStreams& streams, const std::string& text) {
  streams.WriteError("quorvane: " + text + "\n");
}

// --where: the paths a run uses, from the folder tree a run builds.
int AnswerWhere(StandardStreams& streams, const AnswerContext& context) {
  const std::string documents = context.documents_folder ? context.documents_folder() : "";
  if (documents.empty()) {
    Fail(streams, "no Documents folder can be found (no home folder)");
    return ExitStatus(RunOutcome::kNoDialog);
  }
  const FolderTree folders(documents);
  std::string text;
  for (const auto& [name, path] :
       {std::pair<const char*, std::string>{"autofile", folders.auto_file},
        {"input", folders.InputFile()},
        {"result", folders.ResultFile()},
        {"settings", folders.SettingsFile()}}) {
    text.append(name).append("=").append(path).append(context.line_end);
  }
  if (!streams.Write(text)) {
    Fail(streams, "the paths could not be written to standard output");
    return ExitStatus(RunOutcome::kNoDialog);
  }
  return ExitStatus(RunOutcome::kOk);
}

// --convert NUMBER...: the numbers before the first one refused are printed.
int ConvertArguments(const std::vector<std::string>& numbers, StandardStreams& streams,
                     const AnswerContext& context) {
  std::string text;
  RunOutcome outcome = RunOutcome::kOk;
  for (const std::string& number : numbers) {
    if (number.empty() || !IsBinaryText(number)) {
      outcome = RunOutcome::kInputNotBinary;
      Fail(streams, "'" + number + "' is not a binary number: only 0 and 1 may be used");
    } else if (number.size() > kMaxLineDigits) {
      outcome = RunOutcome::kLineTooLong;
      Fail(streams, "'" + number + "' has more than 31 digits: the largest number is 2147483647");
    }
    if (outcome != RunOutcome::kOk) break;
    text.append(BinaryToDecimal(number)).append(context.line_end);
  }
  if (!text.empty() && !streams.Write(text)) {
    Fail(streams, "standard output could not be written");
    return ExitStatus(RunOutcome::kResultNotWritten);
  }
  return ExitStatus(outcome);
}

// --convert alone: standard input through the drop folder's conversion, a part at a time, so
// memory stays the same whatever the length.
int ConvertStandardInput(StandardStreams& streams, const AnswerContext& context) {
  if (!streams.CanRead()) {
    Fail(streams, "--convert without numbers reads standard input only when it is redirected");
    streams.WriteError(HelpHint(context.spelling));
    return ExitStatus(RunOutcome::kUsageError);
  }
  constexpr size_t kPartSize = 128 * 1024;
  const auto input = std::make_unique<char[]>(kPartSize);
  const auto output = std::make_unique<char[]>(BatchStream::OutputBound(kPartSize));
  BatchStream stream(context.line_end);
  bool ended = false;
  while (!ended && stream.fault() == BatchStream::Fault::kNone) {
    const std::ptrdiff_t got = streams.Read(input.get(), kPartSize);
    if (got < 0) {
      Fail(streams, "standard input could not be read");
      return ExitStatus(RunOutcome::kInputUnreadable);
    }
    ended = got == 0;
    char* end = ended ? stream.Finish(output.get())
                      : stream.Feed({input.get(), static_cast<size_t>(got)}, output.get());
    const std::string_view converted(output.get(), static_cast<size_t>(end - output.get()));
    if (!converted.empty() && !streams.Write(converted)) {
      Fail(streams, "standard output could not be written");
      return ExitStatus(RunOutcome::kResultNotWritten);
    }
  }
  const std::string line = "line " + std::to_string(stream.fault_line());
  switch (stream.fault()) {
    case BatchStream::Fault::kNotBinary:
      Fail(streams, line + ": a byte other than 0, 1, CR and LF; nothing after it was converted");
      return ExitStatus(RunOutcome::kInputNotBinary);
    case BatchStream::Fault::kLineTooLong:
      Fail(streams, line +
                        ": more than 31 digits (the largest number is 2147483647); nothing "
                        "from it on was converted");
      return ExitStatus(RunOutcome::kLineTooLong);
    case BatchStream::Fault::kNone:
      break;
  }
  return ExitStatus(RunOutcome::kOk);
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments, Spelling spelling) {
  using Action = CommandLine::Action;
  CommandLine command_line;
  bool help = false;
  bool version = false;
  Action mode = Action::kRun;  // --batch, --where or --convert, at most one of them
  std::vector<std::string> others;
  for (const std::string& argument : arguments) {
    bool unknown = false;
    const Option* option = FindOption(argument, spelling, unknown);
    if (unknown) {
      command_line.action = Action::kUsageError;
      command_line.error = "unrecognized option '" + argument + "'";
      return command_line;
    }
    if (option == nullptr) {
      others.push_back(argument);
    } else if (option->name == "dialog") {
      command_line.dialog = true;
    } else if (option->action == Action::kHelp) {
      help = true;
    } else if (option->action == Action::kVersion) {
      version = true;
    } else if (mode == Action::kRun || mode == option->action) {
      mode = option->action;
    } else {
      command_line.action = Action::kUsageError;
      command_line.error = "only one of --batch, --where and --convert may be given";
      return command_line;
    }
  }
  if (command_line.dialog && mode == Action::kBatch) {
    // A calling program's run never shows the dialog; a person's start always does.
    command_line.action = Action::kUsageError;
    command_line.error = "--dialog and --batch cannot be given together";
    return command_line;
  }
  command_line.action = help ? Action::kHelp : version ? Action::kVersion : mode;
  if (command_line.action == Action::kConvert) {
    command_line.numbers = std::move(others);
  } else {
    command_line.ignored = std::move(others);
  }
  return command_line;
}

std::string IgnoredArgumentsNote(const CommandLine& command_line, Spelling spelling) {
  if (command_line.ignored.empty()) return {};
  std::string note = "quorvane: ignored, not an option:";
  std::string numbers;
  for (const std::string& argument : command_line.ignored) {
    note += " '" + argument + "'";
    numbers += " " + argument;
  }
  return note + ". To convert numbers: " +
         (spelling == Spelling::kWindows ? "Quorvane.exe /convert" : "quorvane --convert") +
         numbers + "\n";
}

int AnswerCommandLine(const CommandLine& command_line, StandardStreams& streams,
                      const AnswerContext& context) {
  switch (command_line.action) {
    case CommandLine::Action::kHelp:
      return streams.Write(kUsage) ? 0 : ExitStatus(RunOutcome::kNoDialog);
    case CommandLine::Action::kVersion:
      return streams.Write(std::string("quorvane " QUORVANE_VERSION).append(context.line_end))
                 ? 0
                 : ExitStatus(RunOutcome::kNoDialog);
    case CommandLine::Action::kWhere:
      return AnswerWhere(streams, context);
    case CommandLine::Action::kConvert:
      return command_line.numbers.empty()
                 ? ConvertStandardInput(streams, context)
                 : ConvertArguments(command_line.numbers, streams, context);
    case CommandLine::Action::kUsageError:
      Fail(streams, command_line.error);
      streams.WriteError(HelpHint(context.spelling));
      return ExitStatus(RunOutcome::kUsageError);
    case CommandLine::Action::kRun:
    case CommandLine::Action::kBatch:
      break;
  }
  return ExitStatus(RunOutcome::kOk);
}

std::string_view UsageText() { return kUsage; }

std::string BatchOutcomeLine(int status) {
  const auto outcome = static_cast<RunOutcome>(status);
  std::string text;
  switch (outcome) {
    case RunOutcome::kOk:
    case RunOutcome::kNoDialog:     // no Documents folder: said at start-up
    case RunOutcome::kOutOfMemory:  // said where it was met
      return text;
    case RunOutcome::kBusy:
      text = "another copy of Quorvane is working on the drop folder; nothing was touched";
      break;
    default:
      if (const char* message = MessageFor(outcome).text) text = message;
      break;
  }
  // One line: the message's own line break becomes a space.
  std::string line = "quorvane: ";
  for (char c : text) {
    if (c != '\r') line.push_back(c == '\n' ? ' ' : c);
  }
  return line + " (status " + std::to_string(status) + ")\n";
}

}  // namespace quorvane
