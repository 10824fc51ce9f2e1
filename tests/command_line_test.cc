// The command line of both builds: what each argument list asks for, and how it is answered.
#include "app/command_line.h"
#include "convert/limits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ui/dialog_templates.h"
#include "ui/texts.h"
#include "version.h"

namespace quorvane {
namespace {

using Action = CommandLine::Action;
constexpr Spelling kPosix = Spelling::kPosix;
constexpr Spelling kWindows = Spelling::kWindows;

// The answers in English, as a user whose language is not Japanese reads them; the Japanese ones
// come from the same catalogue entries.
class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override { SetLanguage(Language::kEnglish); }
  void TearDown() override { SetLanguage(Language::kJapanese); }
};

TEST_F(CommandLineTest, EachArgumentListAsksForOneAction) {
  using Strings = std::vector<std::string_view>;
  const struct {
    Spelling spelling;
    Strings arguments;  // after the program name
    Action action;
    bool dialog;
    Strings numbers;
    Strings ignored;
    const char* error;
  } rows[] = {
      /* 0*/ {kPosix, {}, Action::kRun, false, {}, {}, ""},
      /* 1*/ {kPosix, {"--dialog"}, Action::kRun, true, {}, {}, ""},
      /* 2*/ {kPosix, {"--dialog", "--dialog"}, Action::kRun, true, {}, {}, ""},
      /* 3*/ {kPosix, {"--help"}, Action::kHelp, false, {}, {}, ""},
      /* 4*/ {kPosix, {"--version"}, Action::kVersion, false, {}, {}, ""},
      /* 5*/ {kPosix, {"--version", "--help"}, Action::kHelp, false, {}, {}, ""},
      /* 6*/ {kPosix, {"--dialog", "--version"}, Action::kVersion, true, {}, {}, ""},
      /* 7*/
      {kPosix,
       {"--frobnicate"},
       Action::kUsageError,
       false,
       {},
       {},
       "unrecognized option '--frobnicate'"},
      /* 8*/ {kPosix, {"--help", "-h"}, Action::kHelp, false, {}, {}, ""},
      /* 9*/
      {kPosix,
       {"--help=all"},
       Action::kUsageError,
       false,
       {},
       {},
       "unrecognized option '--help=all'"},
      /*10*/ {kPosix, {"-"}, Action::kUsageError, false, {}, {}, "unrecognized option '-'"},
      // Arguments that are not options are ignored, as callers of the old program pass some.
      /*11*/ {kPosix, {"Bintake.tbin"}, Action::kRun, false, {}, {"Bintake.tbin"}, ""},
      /*12*/ {kPosix, {""}, Action::kRun, false, {}, {""}, ""},
      /*13*/ {kPosix, {"/dialog"}, Action::kRun, false, {}, {"/dialog"}, ""},
      /*14*/ {kPosix, {"--batch", "x"}, Action::kBatch, false, {}, {"x"}, ""},
      /*15*/ {kPosix, {"--where"}, Action::kWhere, false, {}, {}, ""},
      /*16*/ {kPosix, {"--convert"}, Action::kConvert, false, {}, {}, ""},
      /*17*/
      {kPosix,
       {"101", "--convert", "11", "1x"},
       Action::kConvert,
       false,
       {"101", "11", "1x"},
       {},
       ""},
      /*18*/
      {kPosix, {"--convert", "-1"}, Action::kUsageError, false, {}, {}, "unrecognized option '-1'"},
      /*19*/ {kPosix, {"--convert", "1", "--help"}, Action::kHelp, false, {}, {"1"}, ""},
      /*20*/
      {kPosix,
       {"--where", "--convert"},
       Action::kUsageError,
       false,
       {},
       {},
       "only one of --batch, --where and --convert may be given"},
      /*21*/ {kPosix, {"--batch", "--batch"}, Action::kBatch, false, {}, {}, ""},
      /*22*/
      {kPosix,
       {"--dialog", "--batch"},
       Action::kUsageError,
       true,
       {},
       {},
       "--dialog and --batch cannot be given together"},
      /*23*/
      {kPosix, {"--Where"}, Action::kUsageError, false, {}, {}, "unrecognized option '--Where'"},
      // Windows: both spellings, the slash one in any case; an unknown slash word is ignored,
      // an unknown dash word is not.
      /*24*/ {kWindows, {"/dialog"}, Action::kRun, true, {}, {}, ""},
      /*25*/ {kWindows, {"/DIALOG"}, Action::kRun, true, {}, {}, ""},
      /*26*/ {kWindows, {"--dialog"}, Action::kRun, true, {}, {}, ""},
      /*27*/ {kWindows, {"/?"}, Action::kHelp, false, {}, {}, ""},
      /*28*/ {kWindows, {"/Help"}, Action::kHelp, false, {}, {}, ""},
      /*29*/ {kWindows, {"/version"}, Action::kVersion, false, {}, {}, ""},
      /*30*/ {kWindows, {"/batch"}, Action::kBatch, false, {}, {}, ""},
      /*31*/ {kWindows, {"/where"}, Action::kWhere, false, {}, {}, ""},
      /*32*/ {kWindows, {"/convert", "101"}, Action::kConvert, false, {"101"}, {}, ""},
      /*33*/ {kWindows, {"/silent", "C:\\x"}, Action::kRun, false, {}, {"/silent", "C:\\x"}, ""},
      /*34*/ {kWindows, {"/s", "/batch"}, Action::kBatch, false, {}, {"/s"}, ""},
      /*35*/
      {kWindows,
       {"--silent"},
       Action::kUsageError,
       false,
       {},
       {},
       "unrecognized option '--silent'"},
      /*36*/ {kWindows, {"-x"}, Action::kUsageError, false, {}, {}, "unrecognized option '-x'"},
      /*37*/
      {kWindows,
       {"/where", "--batch"},
       Action::kUsageError,
       false,
       {},
       {},
       "only one of --batch, --where and --convert may be given"},
      /*38*/ {kWindows, {"/?x"}, Action::kRun, false, {}, {"/?x"}, ""},
      /*39*/ {kPosix, {"/?"}, Action::kRun, false, {}, {"/?"}, ""},
      // -h is help, as in most programs; no other option has a short form.
      /*40*/ {kPosix, {"-h"}, Action::kHelp, false, {}, {}, ""},
      /*41*/ {kWindows, {"-h"}, Action::kHelp, false, {}, {}, ""},
      /*42*/ {kPosix, {"-H"}, Action::kUsageError, false, {}, {}, "unrecognized option '-H'"},
      /*43*/ {kPosix, {"-hh"}, Action::kUsageError, false, {}, {}, "unrecognized option '-hh'"},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const CommandLine parsed = ParseCommandLine(rows[row].arguments, rows[row].spelling);
    EXPECT_EQ(parsed.action, rows[row].action);
    EXPECT_EQ(parsed.dialog, rows[row].dialog);
    EXPECT_EQ(parsed.numbers, rows[row].numbers);
    EXPECT_EQ(parsed.ignored, rows[row].ignored);
    EXPECT_EQ(parsed.error, rows[row].error);
  }
}

// The note names a few of the ignored arguments, counts the rest, and offers --convert only
// what it would take: however many or long they are, it stays one short line.
TEST_F(CommandLineTest, IgnoredArgumentsAreNotedWithTheWayToConvertThem) {
  const std::string long_argument = std::string(62, 'x') + "あいう";  // 64 bytes end inside あ
  const struct {
    Spelling spelling;
    std::vector<std::string> ignored;
    std::string note;
  } rows[] = {
      /* 0*/ {kPosix, {}, ""},
      /* 1*/
      {kPosix,
       {"1011", "x"},
       "quorvane: ignored, not an option: '1011' 'x'. To convert numbers: quorvane --convert "
       "1011\n"},
      /* 2*/
      {kWindows,
       {"1011", "x"},
       "quorvane: ignored, not an option: '1011' 'x'. To convert numbers: Quorvane.exe /convert "
       "1011\n"},
      // A word after a slash is a caller's own option, never a number to convert.
      /* 3*/ {kWindows, {"/foo"}, "quorvane: ignored, not an option: '/foo'.\n"},
      /* 4*/
      {kPosix,
       {"1", "10", "/x", "11", "0"},
       "quorvane: ignored, not an option: '1' '10' '/x' and 2 more. To convert numbers: quorvane "
       "--convert 1 10\n"},
      /* 5*/
      {kPosix,
       {long_argument},
       "quorvane: ignored, not an option: '" + std::string(62, 'x') + "...'.\n"},
      /* 6*/
      {kPosix,
       {std::string(kMaxLineDigits + 1, '1'), ""},
       "quorvane: ignored, not an option: '" + std::string(kMaxLineDigits + 1, '1') + "' ''.\n"},
      /* 7*/
      {kPosix, std::vector<std::string>(150000, "1"),
       "quorvane: ignored, not an option: '1' '1' '1' and 149997 more. To convert numbers: "
       "quorvane --convert 1 1 1\n"},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    CommandLine command_line;
    command_line.ignored.assign(rows[row].ignored.begin(), rows[row].ignored.end());
    EXPECT_EQ(IgnoredArgumentsNote(command_line, rows[row].spelling), rows[row].note);
  }
}

// A Windows program splits its own command line; these are the C runtime's rules, with the rows
// of its documentation first.
TEST_F(CommandLineTest, SplitsAWindowsCommandLineAsTheRuntimeDoes) {
  using Strings = std::vector<std::string>;
  const struct {
    const char* command_line;
    Strings arguments;  // after the program's name
  } rows[] = {
      /* 0*/ {R"(q "a b c" d e)", {"a b c", "d", "e"}},
      /* 1*/ {R"(q "ab\"c" "\\" d)", {"ab\"c", "\\", "d"}},
      /* 2*/ {R"(q a\\\b d"e f"g h)", {R"(a\\\b)", "de fg", "h"}},
      /* 3*/ {R"(q a\\\"b c d)", {R"(a\"b)", "c", "d"}},
      /* 4*/ {R"(q a\\\\"b c" d e)", {R"(a\\b c)", "d", "e"}},
      /* 5*/ {R"(q a"b"" c d)", {R"(ab" c d)"}},
      // The program's name: quoted for its blanks, its backslashes plain, and never an argument.
      /* 6*/ {R"("C:\Program Files\Quorvane\Quorvane.exe" /batch)", {"/batch"}},
      /* 7*/ {R"(C:\Quorvane.exe)", {}},
      /* 8*/ {R"(C:\Quorvane.exe   )", {}},
      /* 9*/ {R"("C:\a b\"Quorvane.exe /where)", {"/where"}},
      /*10*/ {"", {}},
      // Blanks are spaces and tabs; a quote left open runs to the end; "" is an empty argument.
      /*11*/ {"q\t/convert\t101  11", {"/convert", "101", "11"}},
      /*12*/ {R"(q /convert "1 0)", {"/convert", "1 0"}},
      /*13*/ {R"(q "" x)", {"", "x"}},
      /*14*/ {R"(q C:\dir\ "C:\dir\\" "C:\dir\")", {R"(C:\dir\)", R"(C:\dir\)", R"(C:\dir")"}},
      /*15*/ {"q ドキュメント \"二 語\"", {"ドキュメント", "二 語"}},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].command_line);
    EXPECT_EQ(SplitWindowsCommandLine(rows[row].command_line), rows[row].arguments);
  }
}

// Standard streams in memory: the input is read in parts of at most `part` bytes, and writes
// fail past `room` bytes of output, as on a full disk.
struct MemoryStreams final : StandardStreams {
  bool readable = true;
  std::string input;
  size_t part = 5;
  bool read_fails = false;
  size_t room = std::string::npos;
  std::string output, error;

  bool CanRead() override { return readable; }
  std::ptrdiff_t Read(char* buffer, size_t size) override {
    if (read_fails) return -1;
    const std::string taken = input.substr(0, std::min(size, part));
    input.erase(0, taken.size());
    std::copy(taken.begin(), taken.end(), buffer);
    return static_cast<std::ptrdiff_t>(taken.size());
  }
  bool Write(std::string_view bytes) override {
    if (output.size() + bytes.size() > room) return false;
    output.append(bytes);
    return true;
  }
  void WriteError(std::string_view text) override { error.append(text); }
};

DocumentsLookup Found(std::string path) {
  return {std::move(path), DocumentsLookup::Problem::kNone, ""};
}
DocumentsLookup Refused(DocumentsLookup::Problem problem, std::string refused = "") {
  return {"", problem, std::move(refused)};
}

// What each action writes where, and its status; the platform's line end follows each line.
TEST_F(CommandLineTest, AnswersOnTheStandardStreams) {
  using Problem = DocumentsLookup::Problem;
  const std::string long_line = "1\n" + std::string(kMaxLineDigits + 1, '1') + "\n1\n";
  const struct {
    Spelling spelling;
    std::vector<std::string> arguments;
    std::string input;
    int status;
    std::string output;
    std::string error;  // a part of standard error
    DocumentsLookup documents = Found("/home/a/ドキュメント");
    size_t room = std::string::npos;
    bool readable = true;
    bool whole_error = false;  // `error` is all of standard error
  } rows[] = {
      /* 0*/ {kPosix, {"--version"}, "", 0, "quorvane " QUORVANE_VERSION "\n", ""},
      /* 1*/ {kWindows, {"/version"}, "", 0, "quorvane " QUORVANE_VERSION "\r\n", ""},
      /* 2*/
      {kPosix,
       {"--where"},
       "",
       0,
       "autofile=/home/a/ドキュメント/Brenvale/MFCQuorvane/AutoFile\n"
       "input=/home/a/ドキュメント/Brenvale/MFCQuorvane/AutoFile/Bintake.tbin\n"
       "result=/home/a/ドキュメント/Brenvale/MFCQuorvane/Result/Decyield.tbin\n"
       "settings=/home/a/ドキュメント/Brenvale/MFCQuorvane/temp/Quorvane.tmp\n",
       ""},
      /* 3*/
      {kPosix, {"--where"}, "", 1, "", "no Documents folder", Refused(Problem::kNoHome)},
      /* 4*/ {kPosix, {"--where"}, "", 1, "", "could not be written", Found("/d"), 10},
      /* 5*/
      {kPosix,
       {"--convert", "1011", "0", "1111111111111111111111111111111"},
       "",
       0,
       "11\n0\n" + std::to_string(kLargestDecimal) + "\n",
       ""},
      /* 6*/ {kWindows, {"/convert", "1011", "1"}, "", 0, "11\r\n1\r\n", ""},
      /* 7*/ {kPosix, {"--convert", "1", "12", "1"}, "", 13, "1\n", "'12' is not a binary number"},
      /* 8*/ {kPosix, {"--convert", "1", ""}, "", 13, "1\n", "'' is not a binary number"},
      /* 9*/
      {kPosix,
       {"--convert", std::string(kMaxLineDigits + 1, '0'), "1"},
       "",
       15,
       "",
       "'" + std::string(kMaxLineDigits + 1, '0') + "' has more than " +
           std::to_string(kMaxLineDigits) + " digits"},
      /*10*/
      {kPosix,
       {"--convert", "1"},
       "",
       16,
       "",
       "standard output could not be written",
       Found("/d"),
       1},
      /*11*/ {kPosix, {"--convert"}, "101\r\n\n11", 0, "5\n3\n", ""},
      /*12*/ {kWindows, {"/convert"}, "101\n11\n", 0, "5\r\n3\r\n", ""},
      /*13*/
      {kPosix,
       {"--convert"},
       long_line,
       15,
       "1\n",
       "line 2: more than " + std::to_string(kMaxLineDigits) + " digits"},
      /*14*/ {kPosix, {"--convert"}, "1\n1\n1\n2\n", 13, "1\n1\n1\n", "line 4: a byte other"},
      /*15*/
      {kPosix,
       {"--convert"},
       "1\n1\n",
       16,
       "",
       "standard output could not be written",
       Found("/d"),
       1},
      /*16*/
      {kWindows,
       {"/convert"},
       "1\n",
       2,
       "",
       "only when it is redirected",
       Found("/d"),
       std::string::npos,
       false},
      /*17*/
      {kPosix,
       {"--bogus"},
       "",
       2,
       "",
       "quorvane: unrecognized option '--bogus'\nTry 'quorvane --help' for more information.\n"},
      /*18*/ {kWindows, {"--bogus"}, "", 2, "", "Try 'Quorvane.exe /?' for more information.\n"},
      /*19*/ {kPosix, {"--help"}, "", 0, std::string(UsageText()), ""},
      // A caller who closed standard output hears that the answer did not reach it.
      /*20*/
      {kPosix,
       {"--help"},
       "",
       1,
       "",
       "quorvane: standard output could not be written\n",
       Found("/d"),
       0,
       true,
       true},
      /*21*/
      {kPosix,
       {"--version"},
       "",
       1,
       "",
       "quorvane: standard output could not be written\n",
       Found("/d"),
       0,
       true,
       true},
      /*22*/ {kWindows, {"/?"}, "", 0, WithLineEnds(UsageText(), "\r\n"), ""},
      /*23*/ {kPosix, {"-h"}, "", 0, std::string(UsageText()), ""},
      // A path a caller would misread is never printed; one that is merely not UTF-8 is printed
      // as the file system holds it.
      /*24*/
      {kPosix,
       {"--where"},
       "",
       1,
       "",
       "quorvane: HOME=home/a is not an absolute path",
       Refused(Problem::kHomeNotAbsolute, "home/a")},
      /*25*/
      {kWindows,
       {"/where"},
       "",
       1,
       "",
       "quorvane: the Documents folder Documents is not an absolute path",
       Refused(Problem::kNotAbsolute, "Documents")},
      /*26*/
      {kPosix,
       {"--where"},
       "",
       1,
       "",
       "quorvane: the Documents folder /home/a\\nb has a line break (CR or LF)",
       Found("/home/a\nb")},
      /*27*/
      {kPosix,
       {"--where"},
       "",
       1,
       "",
       "the Documents folder /home/a\\r has a line break",
       Found("/home/a\r")},
      /*28*/
      {kPosix,
       {"--where"},
       "",
       0,
       "autofile=/home/\xff\xfe/Brenvale/MFCQuorvane/AutoFile\n"
       "input=/home/\xff\xfe/Brenvale/MFCQuorvane/AutoFile/Bintake.tbin\n"
       "result=/home/\xff\xfe/Brenvale/MFCQuorvane/Result/Decyield.tbin\n"
       "settings=/home/\xff\xfe/Brenvale/MFCQuorvane/temp/Quorvane.tmp\n",
       "",
       Found("/home/\xff\xfe")},
      // The first number refused ends the answer: one message, and the status it gives, even
      // with a line too long for any number after it.
      /*29*/
      {kPosix,
       {"--convert", "1", "2", std::string(kMaxLineDigits + 1, '1')},
       "",
       13,
       "1\n",
       "quorvane: '2' is not a binary number: only 0 and 1 may be used\n",
       Found("/d"),
       std::string::npos,
       true,
       true},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const auto& r = rows[row];
    MemoryStreams streams;
    streams.input = r.input;
    streams.room = r.room;
    streams.readable = r.readable;
    AnswerContext context{r.spelling, r.spelling == kWindows ? "\r\n" : "\n",
                          [&r] { return r.documents; }};
    const std::vector<std::string_view> arguments(r.arguments.begin(), r.arguments.end());
    EXPECT_EQ(AnswerCommandLine(ParseCommandLine(arguments, r.spelling), streams, context),
              r.status);
    EXPECT_EQ(streams.output, r.output);
    EXPECT_NE(streams.error.find(r.error), std::string::npos) << streams.error;
    if (r.whole_error) {
      EXPECT_EQ(streams.error, r.error);
    }
    if (r.status == 0) {
      EXPECT_EQ(streams.error, "");
    }
  }
}

// A read error on standard input is told apart from its end.
TEST_F(CommandLineTest, UnreadableStandardInputEndsWith12) {
  MemoryStreams streams;
  streams.read_fails = true;
  const std::string_view convert[] = {"--convert"};
  EXPECT_EQ(AnswerCommandLine(ParseCommandLine(convert, kPosix), streams, {}), 12);
  EXPECT_NE(streams.error.find("standard input could not be read"), std::string::npos);
}

// The version dialog shows the first three parts of the one version the build sets.
TEST_F(CommandLineTest, VersionDialogLineMatchesTheBuildVersion) {
  const std::string expected = "Quorvane\u3000Ver" + std::to_string(QUORVANE_VERSION_MAJOR) + "." +
                               std::to_string(QUORVANE_VERSION_MINOR) + "." +
                               std::to_string(QUORVANE_VERSION_PATCH);
  EXPECT_EQ(Text(VersionDialogTemplate().controls[1].text, Language::kJapanese), expected);
}

}  // namespace
}  // namespace quorvane
