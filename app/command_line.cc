#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "automation/run_outcome.h"
#include "convert/binary_to_decimal.h"
#include "convert/line_converter.h"
#include "storage/folder_tree.h"
#include "ui/run_outcome.h"
#include "ui/texts.h"

namespace quorvane {
namespace {

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
  return Text(spelling == Spelling::kWindows ? TextId::kHelpHintWindows : TextId::kHelpHintPosix);
}

void Fail(StandardStreams& streams, const std::string& text) {
  streams.WriteError("quorvane: " + text + "\n");
}

// --where: the paths a run uses, from the folder tree a run builds.
int AnswerWhere(StandardStreams& streams, const AnswerContext& context) {
  const std::string documents = context.documents_folder ? context.documents_folder() : "";
  if (documents.empty()) {
    Fail(streams, Text(TextId::kNoDocumentsForWhere));
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
    Fail(streams, Text(TextId::kPathsNotWritten));
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
      Fail(streams, Format(TextId::kArgumentNotBinary, {number}));
    } else if (number.size() > kMaxLineDigits) {
      outcome = RunOutcome::kLineTooLong;
      Fail(streams, Format(TextId::kArgumentTooLong, {number}));
    }
    if (outcome != RunOutcome::kOk) break;
    text.append(BinaryToDecimal(number)).append(context.line_end);
  }
  if (!text.empty() && !streams.Write(text)) {
    Fail(streams, Text(TextId::kOutputNotWritten));
    return ExitStatus(RunOutcome::kResultNotWritten);
  }
  return ExitStatus(outcome);
}

// --convert alone: standard input through the drop folder's conversion, a part at a time, so
// memory stays the same whatever the length.
int ConvertStandardInput(StandardStreams& streams, const AnswerContext& context) {
  if (!streams.CanRead()) {
    Fail(streams, Text(TextId::kInputNotRedirected));
    streams.WriteError(HelpHint(context.spelling));
    return ExitStatus(RunOutcome::kUsageError);
  }
  constexpr size_t kPartSize = 128 * 1024;
  const auto input = std::make_unique<char[]>(kPartSize);
  const auto output = std::make_unique<char[]>(LineConverter::OutputBound(kPartSize));
  LineConverter stream(context.line_end);
  bool ended = false;
  while (!ended && stream.fault() == LineConverter::Fault::kNone) {
    const std::ptrdiff_t got = streams.Read(input.get(), kPartSize);
    if (got < 0) {
      Fail(streams, Text(TextId::kInputNotRead));
      return ExitStatus(RunOutcome::kInputUnreadable);
    }
    ended = got == 0;
    char* end = ended ? stream.Finish(output.get())
                      : stream.Feed({input.get(), static_cast<size_t>(got)}, output.get());
    const std::string_view converted(output.get(), static_cast<size_t>(end - output.get()));
    if (!converted.empty() && !streams.Write(converted)) {
      Fail(streams, Text(TextId::kOutputNotWritten));
      return ExitStatus(RunOutcome::kResultNotWritten);
    }
  }
  const std::string line = std::to_string(stream.fault_line());
  switch (stream.fault()) {
    case LineConverter::Fault::kNotBinary:
      Fail(streams, Format(TextId::kLineNotBinary, {line}));
      return ExitStatus(RunOutcome::kInputNotBinary);
    case LineConverter::Fault::kLineTooLong:
      Fail(streams, Format(TextId::kLineTooLongInStream, {line}));
      return ExitStatus(RunOutcome::kLineTooLong);
    case LineConverter::Fault::kNone:
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
      command_line.error = Format(TextId::kUnrecognizedOption, {argument});
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
      command_line.error = Text(TextId::kOneModeOnly);
      return command_line;
    }
  }
  if (command_line.dialog && mode == Action::kBatch) {
    // A calling program's run never shows the dialog; a person's start always does.
    command_line.action = Action::kUsageError;
    command_line.error = Text(TextId::kDialogWithBatch);
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
  std::string quoted;
  std::string convert =
      spelling == Spelling::kWindows ? "Quorvane.exe /convert" : "quorvane --convert";
  for (const std::string& argument : command_line.ignored) {
    quoted += " '" + argument + "'";
    convert += " " + argument;
  }
  return "quorvane: " + Format(TextId::kIgnoredArguments, {quoted, convert}) + "\n";
}

std::string WithLineEnds(std::string_view text, std::string_view line_end) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += line_end;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

int AnswerCommandLine(const CommandLine& command_line, StandardStreams& streams,
                      const AnswerContext& context) {
  switch (command_line.action) {
    case CommandLine::Action::kHelp:
      return streams.Write(WithLineEnds(UsageText(), context.line_end))
                 ? 0
                 : ExitStatus(RunOutcome::kNoDialog);
    case CommandLine::Action::kVersion:
      return streams.Write(Text(TextId::kVersionOutput) + std::string(context.line_end))
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

std::string_view UsageText() { return Text(TextId::kUsage); }

std::string BatchOutcomeLine(int status) {
  const auto outcome = static_cast<RunOutcome>(status);
  std::string text;
  switch (outcome) {
    case RunOutcome::kOk:
    case RunOutcome::kNoDialog:     // no Documents folder: said at start-up
    case RunOutcome::kOutOfMemory:  // said where it was met
      return text;
    case RunOutcome::kBusy:
      text = Text(TextId::kBusyLine);
      break;
    default:
      text = Text(MessageFor(outcome).text);
      break;
  }
  // One line: the message's own line break becomes a space.
  std::string line = "quorvane: ";
  for (char c : text) {
    if (c != '\r') line.push_back(c == '\n' ? ' ' : c);
  }
  return line + Format(TextId::kStatusSuffix, {std::to_string(status)}) + "\n";
}

}  // namespace quorvane
