#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "automation/exit_status.h"
#include "convert/binary_to_decimal.h"
#include "convert/limits.h"
#include "convert/line_converter.h"
#include "storage/file_system.h"
#include "storage/folder_tree.h"
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
  // -h is help by the habit of most programs; no other option has a short form.
  if (argument == "-h") return &kOptions[4];
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

// A failed read or write of a standard stream: `text`, and the system's reason where it gave one.
void FailOnStream(StandardStreams& streams, const std::string& text) {
  const int error = streams.last_error();
  Fail(streams, error != 0 ? text + ": " + SystemErrorText(error) : text);
}

// The path as one line can show it: CR and LF written as \r and \n.
std::string Visible(std::string_view path) {
  std::string shown;
  for (char c : path) {
    if (c == '\r' || c == '\n') {
      shown += c == '\r' ? "\\r" : "\\n";
    } else {
      shown.push_back(c);
    }
  }
  return shown;
}

// --where: the paths a run uses, from the folder tree a run builds. A path that a caller would
// read wrongly (one cut in two by a line break) is refused, never printed. Any other byte is
// printed as the file system holds it.
int AnswerWhere(StandardStreams& streams, const AnswerContext& context) {
  DocumentsLookup lookup;
  if (context.documents_folder) {
    lookup = context.documents_folder();
  } else {
    lookup.problem = DocumentsLookup::Problem::kNoHome;
  }
  if (lookup.problem != DocumentsLookup::Problem::kNone) {
    Fail(streams, DocumentsProblem(lookup));
    return ExitStatus(RunOutcome::kNoDocumentsFolder);
  }
  // Every other part of the paths is a fixed name.
  if (lookup.path.find_first_of("\r\n") != std::string::npos) {
    Fail(streams, Format(TextId::kPathHasLineBreak, {Visible(lookup.path)}));
    return ExitStatus(RunOutcome::kAnswerNotGiven);
  }
  const FolderTree folders(lookup.path);
  std::string text;
  for (const auto& [name, path] :
       {std::pair<const char*, std::string>{"autofile", folders.auto_file},
        {"input", folders.InputFile()},
        {"result", folders.ResultFile()},
        {"settings", folders.SettingsFile()}}) {
    text.append(name).append("=").append(path).append(context.line_end);
  }
  if (!streams.Write(text)) {
    FailOnStream(streams, Text(TextId::kPathsNotWritten));
    return ExitStatus(RunOutcome::kAnswerNotGiven);
  }
  return ExitStatus(RunOutcome::kOk);
}

// --help and --version: one text, which a caller who closed standard output does not get.
int AnswerText(std::string_view text, StandardStreams& streams) {
  if (streams.Write(text)) return ExitStatus(RunOutcome::kOk);
  FailOnStream(streams, Text(TextId::kOutputNotWritten));
  return ExitStatus(RunOutcome::kAnswerNotGiven);
}

// --convert NUMBER...: the numbers before the first one refused are printed.
int ConvertArguments(const std::vector<std::string_view>& numbers, StandardStreams& streams,
                     const AnswerContext& context) {
  std::string text;
  RunOutcome outcome = RunOutcome::kOk;
  for (const std::string_view number : numbers) {
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
    FailOnStream(streams, Text(TextId::kOutputNotWritten));
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
      FailOnStream(streams, Text(TextId::kInputNotRead));
      return ExitStatus(RunOutcome::kInputUnreadable);
    }
    ended = got == 0;
    char* end = ended ? stream.Finish(output.get())
                      : stream.Feed({input.get(), static_cast<size_t>(got)}, output.get());
    const std::string_view converted(output.get(), static_cast<size_t>(end - output.get()));
    if (!converted.empty() && !streams.Write(converted)) {
      FailOnStream(streams, Text(TextId::kOutputNotWritten));
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

CommandLine ParseCommandLine(std::span<const std::string_view> arguments, Spelling spelling) {
  using Action = CommandLine::Action;
  CommandLine command_line;
  bool help = false;
  bool version = false;
  Action mode = Action::kRun;  // --batch, --where or --convert, at most one of them
  std::vector<std::string_view> others;
  for (const std::string_view argument : arguments) {
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

std::vector<std::string> SplitWindowsCommandLine(std::string_view command_line) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t at = 0;
  // The program's name is a path, which has no quotes in it: a quote only starts or ends a part
  // in which blanks do not end it, and a backslash is a backslash.
  for (bool quoted = false; at < command_line.size() && (quoted || !blank(command_line[at]));
       ++at) {
    if (command_line[at] == '"') quoted = !quoted;
  }
  std::vector<std::string> arguments;
  for (;;) {
    while (at < command_line.size() && blank(command_line[at])) ++at;
    if (at == command_line.size()) return arguments;
    std::string argument;
    bool quoted = false;
    while (at < command_line.size() && (quoted || !blank(command_line[at]))) {
      const char c = command_line[at];
      if (c == '\\') {
        const size_t first = at;
        while (at < command_line.size() && command_line[at] == '\\') ++at;
        const size_t count = at - first;
        if (at < command_line.size() && command_line[at] == '"') {
          // Before a quote, each pair is one backslash; one left over makes the quote plain.
          argument.append(count / 2, '\\');
          if (count % 2 == 1) {
            argument.push_back('"');
            ++at;
          }
        } else {
          argument.append(count, '\\');
        }
      } else if (c == '"') {
        if (quoted && at + 1 < command_line.size() && command_line[at + 1] == '"') {
          argument.push_back('"');  // "" inside quotes: one quote, and still quoted
          at += 2;
        } else {
          quoted = !quoted;
          ++at;
        }
      } else {
        argument.push_back(c);
        ++at;
      }
    }
    arguments.push_back(std::move(argument));
  }
}

namespace {

// An argument as the note names it: at most a line's worth, never cut inside a character.
std::string Shown(std::string_view argument) {
  constexpr size_t kLongest = 64;
  if (argument.size() <= kLongest) return std::string(argument);
  size_t cut = kLongest;
  while (cut > 0 && (static_cast<unsigned char>(argument[cut]) & 0xC0) == 0x80) --cut;
  return std::string(argument.substr(0, cut)) + "...";
}

}  // namespace

std::string IgnoredArgumentsNote(const CommandLine& command_line, Spelling spelling) {
  if (command_line.ignored.empty()) return {};
  // A caller may pass any number of them: the note stays one short line.
  constexpr size_t kNamed = 3;
  const size_t named = std::min(command_line.ignored.size(), kNamed);
  std::string quoted;
  std::string numbers;
  for (const std::string_view argument : std::span(command_line.ignored).first(named)) {
    quoted += " '" + Shown(argument) + "'";
    // Only what --convert would take is offered to it: "/foo" is no number.
    if (!argument.empty() && argument.size() <= kMaxLineDigits && IsBinaryText(argument)) {
      numbers.append(" ").append(argument);
    }
  }
  if (command_line.ignored.size() > named) {
    quoted += Format(TextId::kMoreArguments, {std::to_string(command_line.ignored.size() - named)});
  }
  const std::string_view convert =
      spelling == Spelling::kWindows ? "Quorvane.exe /convert" : "quorvane --convert";
  return "quorvane: " +
         (numbers.empty()
              ? Format(TextId::kIgnoredArgumentsOnly, {quoted})
              : Format(TextId::kIgnoredArguments, {quoted, std::string(convert) + numbers})) +
         "\n";
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
      return AnswerText(WithLineEnds(UsageText(), context.line_end), streams);
    case CommandLine::Action::kVersion:
      return AnswerText(Text(TextId::kVersionOutput) + std::string(context.line_end), streams);
    case CommandLine::Action::kWhere:
      return AnswerWhere(streams, context);
    case CommandLine::Action::kConvert:
      streams.PrepareForStream();
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

std::string DocumentsProblem(const DocumentsLookup& lookup) {
  switch (lookup.problem) {
    case DocumentsLookup::Problem::kNone:
      break;
    case DocumentsLookup::Problem::kNoHome:
      return Text(TextId::kNoDocumentsForWhere);
    case DocumentsLookup::Problem::kHomeNotAbsolute:
      return Format(TextId::kHomeNotAbsolute, {lookup.refused});
    case DocumentsLookup::Problem::kNotAbsolute:
      return Format(TextId::kDocumentsNotAbsolute, {lookup.refused});
  }
  return {};
}

std::string_view UsageText() { return Text(TextId::kUsage); }

}  // namespace quorvane
