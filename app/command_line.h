#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/folder_tree.h"

namespace quorvane {

// How options are written: on Linux only "--name"; on Windows also "/name" (any case) and "/?",
// since callers of a Windows program write them so.
enum class Spelling { kPosix, kWindows };

// What a command line asks for. Both builds read it with the one parser below.
struct CommandLine {
  enum class Action {
    kRun,         // start as usual: the drop folder decides
    kBatch,       // --batch: a calling program's run of the drop folder
    kWhere,       // --where: print the paths in use and end
    kConvert,     // --convert: convert the numbers given, or standard input, and end
    kHelp,        // --help: print the usage and end
    kVersion,     // --version: print the version and end
    kUsageError,  // an option that is not understood: say so and end with status 2
  };
  Action action = Action::kRun;
  bool dialog = false;  // --dialog: a person's start, which wants the dialog
  // Both views point into the arguments the parser was given.
  std::vector<std::string_view> numbers;  // for kConvert: the arguments that are not options
  std::vector<std::string_view> ignored;  // otherwise: arguments that are not options, and unused
  std::string error;                      // for kUsageError: the one line that says what was wrong
};

// `arguments` are those after the program's name; the result points into them.
CommandLine ParseCommandLine(std::span<const std::string_view> arguments, Spelling spelling);

// The arguments after the program's name in a Windows command line, split by the rules of the
// C runtime's start-up code: blanks (space, tab) part arguments outside quotes; a quote starts or
// ends a quoted part, in which "" stands for one quote; backslashes are themselves except before
// a quote, where each pair gives one and an odd one left over makes the quote a plain character.
// The program's name is read by its own rule (to the closing quote, or to a blank) and dropped.
std::vector<std::string> SplitWindowsCommandLine(std::string_view command_line);

// The note on standard error for ignored arguments; empty when there are none. However many
// there are, it names the first few and counts the rest, and suggests --convert only for those
// that are binary numbers.
std::string IgnoredArgumentsNote(const CommandLine& command_line, Spelling spelling);

// The standard streams, as the platform gives them to the modes that answer on them.
class StandardStreams {
 public:
  virtual ~StandardStreams() = default;
  // Whether standard input may be read. On Windows only input that the caller redirected is
  // read: a console is a person typing, and no calling program.
  virtual bool CanRead() = 0;
  // Reads up to `size` bytes of standard input: how many, 0 at its end, -1 on a read error.
  virtual std::ptrdiff_t Read(char* buffer, size_t size) = 0;
  // Writes all of `bytes` to standard output; false when they could not all be written.
  virtual bool Write(std::string_view bytes) = 0;
  // Writes `text` (UTF-8) to standard error; a message that cannot be written is lost. Allocates
  // nothing, so that it can tell of a memory shortage.
  virtual void WriteError(std::string_view text) = 0;
  // Standard output is about to take a long stream: a pipe may be made larger, where the system
  // allows, so that each write moves more at once.
  virtual void PrepareForStream() {}
  // The system's error of the last Read or Write that failed (errno, or GetLastError on
  // Windows); 0 when it gave none.
  virtual int last_error() const { return 0; }
};

// What answering needs from the platform.
struct AnswerContext {
  Spelling spelling = Spelling::kPosix;
  std::string_view line_end = "\n";  // after each line of output: "\r\n" on Windows
  // The Documents folder, found as a run finds it.
  std::function<DocumentsLookup()> documents_folder;
};

// Answers every action but kRun and kBatch: the usage, the version, the paths or the decimals on
// standard output, an error on standard error. Returns the exit status. Creates no file or folder.
int AnswerCommandLine(const CommandLine& command_line, StandardStreams& streams,
                      const AnswerContext& context);

// Why `lookup` gave no Documents folder, in one line for the user; empty when it gave one.
std::string DocumentsProblem(const DocumentsLookup& lookup);

// The text of --help, its lines ended by LF.
std::string_view UsageText();
// `text` with each LF written as `line_end` (CR LF for a Windows caller's file).
std::string WithLineEnds(std::string_view text, std::string_view line_end);

}  // namespace quorvane
