// The real quorvane executable, started the way a calling program starts it, in a throw-away
// HOME with no display.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <optional>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "convert/limits.h"
#include "storage/folder_tree.h"
#include "tests/support/drop_home.h"
#include "ui/dialog_templates.h"
#include "ui/texts.h"
#include "version.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::RunProgram;
using testing::TempFolder;
using testing::WriteFile;

class EndToEndTest : public ::testing::Test, public testing::DropHome {
 protected:
  EndToEndTest() : folders_(folders()) {}

  testing::Ending Run(std::vector<std::string> arguments = {}, testing::Environment extra = {}) {
    return RunProgram(testing::QuorvaneExecutable(), home(), std::move(arguments),
                      std::move(extra));
  }
  std::string Home(const std::string& relative) const { return home() + "/" + relative; }
  // A user whose language is English, for the answers written in English below.
  static testing::Environment English() { return {"LC_ALL=en_US.UTF-8"}; }

  const FolderTree& folders_;
};

TEST_F(EndToEndTest, WorkedExample) {
  MakeDropFolder();
  DropInput("101\r\n11\r\n");
  testing::Ending run = Run();
  EXPECT_EQ(run.code, 0);
  EXPECT_EQ(ReadFile(folders_.ResultFile()), "5\r\n3\r\n");
  EXPECT_FALSE(InputExists());
  EXPECT_TRUE(fs::is_directory(folders_.auto_file));
  EXPECT_EQ(run.standard_error, "");  // no settings file: an automatic run is silent
}

TEST_F(EndToEndTest, FirstStartMakesTheFolderTreeAndExplainsTheMissingDialog) {
  testing::Ending run = Run({}, English());
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.standard_error.find("interactive dialog needs the desktop front end"),
            std::string::npos)
      << run.standard_error;
  EXPECT_TRUE(fs::is_directory(folders_.result));
  EXPECT_TRUE(fs::is_directory(folders_.temp));
  EXPECT_FALSE(fs::exists(folders_.auto_file));
  EXPECT_FALSE(fs::exists(folders_.SettingsFile()));
}

// Every way an automatic start is refused: the exit status says which, nothing is written and
// the input file stays for the next start.
TEST_F(EndToEndTest, RefusedStartsKeepTheInput) {
  const struct {
    const char* name;
    std::optional<std::string> input;
    int status;
  } cases[] = {
      {"missing", std::nullopt, 10},
      {"empty", "", 11},
      {"bad character", "101\r\n1a\r\n", 13},
      {"zero byte",
       std::string("11\r\n\0"
                   "1\r\n",
                   8),
       13},
      {"over the read limit", std::string(2077001, '1'), 14},
      {"line of 32 digits", "1\r\n" + std::string(kMaxLineDigits + 1, '1') + "\r\n", 15},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(folders_.data_root);
    MakeDropFolder();
    if (c.input) DropInput(*c.input);
    testing::Ending run = Run();
    EXPECT_EQ(run.code, c.status);
    EXPECT_EQ(InputExists(), c.input.has_value());
    if (c.input) {
      EXPECT_EQ(ReadFile(folders_.InputFile()), *c.input);
    }
    EXPECT_FALSE(ResultExists());
    EXPECT_EQ(run.standard_error, "");
  }
}

// A person's options answer at once, on the right stream, and never start an automatic run,
// even with an input file waiting.
TEST_F(EndToEndTest, OptionsAnswerWithoutTouchingTheDropFolder) {
  const std::string hint = "\nTry 'quorvane --help' for more information.\n";
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string output;
    std::string error;
  } rows[] = {
      /* 0*/ {{"--version"}, 0, "quorvane " QUORVANE_VERSION "\n", ""},
      /* 1*/ {{"--help"}, 0, Text(TextId::kUsage, Language::kEnglish), ""},
      /* 2*/ {{"--dialog", "--help"}, 0, Text(TextId::kUsage, Language::kEnglish), ""},
      /* 3*/ {{"--bogus"}, 2, "", "quorvane: unrecognized option '--bogus'" + hint},
      // Arguments that are not options are ignored, with a note.
      /* 4*/
      {{"--version", "Bintake.tbin"},
       0,
       "quorvane " QUORVANE_VERSION "\n",
       "quorvane: ignored, not an option: 'Bintake.tbin'.\n"},
      /* 5*/ {{"--convert", "1011", "1"}, 0, "11\n1\n", ""},
      /* 6*/
      {{"--convert", "10", "2", "1"},
       13,
       "2\n",
       "quorvane: '2' is not a binary number: only 0 and 1 may be used\n"},
      /* 7*/
      {{"--convert", std::string(kMaxLineDigits + 1, '1')},
       15,
       "",
       "quorvane: '" + std::string(kMaxLineDigits + 1, '1') + "' has more than " +
           std::to_string(kMaxLineDigits) + " digits: the largest number is " +
           std::to_string(kLargestDecimal) + "\n"},
      /* 8*/
      {{"--where", "--batch"},
       2,
       "",
       "quorvane: only one of --batch, --where and --convert may be given" + hint},
  };
  MakeDropFolder();
  DropInput("101\r\n");
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    testing::Ending run = Run(rows[row].arguments, English());
    EXPECT_EQ(run.code, rows[row].status);
    EXPECT_EQ(run.standard_output, rows[row].output);
    EXPECT_EQ(run.standard_error, rows[row].error);
    EXPECT_TRUE(InputExists());
    EXPECT_FALSE(ResultExists());
  }
}

// --where names the folders a run uses, wherever user-dirs.dirs puts the Documents folder, and
// creates nothing; a run then finds its input at the printed path and writes the printed result.
TEST_F(EndToEndTest, WhereNamesWhatARunUses) {
  TempFolder elsewhere;
  const struct {
    const char* name;
    std::string dirs;  // user-dirs.dirs; empty: none
    std::string documents;
    bool fifo = false;  // user-dirs.dirs is a named pipe that no program holds open
  } rows[] = {
      /* 0*/ {"no user-dirs.dirs", "", Home("Documents")},
      /* 1*/ {"Japanese name", "XDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\n", Home("ドキュメント")},
      /* 2*/
      {"$HOME itself", "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME\"\n", home()},
      /* 3*/
      {"absolute path", "XDG_DOCUMENTS_DIR=\"" + elsewhere / "my docs" + "\"\n",
       elsewhere / "my docs"},
      // Opening a pipe to read waits for a writer that never comes, unless it is not waited on.
      /* 4*/ {"a named pipe without a writer", "", Home("Documents"), true},
      // As xdg-user-dirs-update writes a path with a quote in it.
      /* 5*/ {"escaped quote", "XDG_DOCUMENTS_DIR=\"$HOME/say \\\"hi\\\"\"\n", Home("say \"hi\"")},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].name);
    fs::remove_all(Home(".config"));
    if (!rows[row].dirs.empty()) WriteFile(Home(".config/user-dirs.dirs"), rows[row].dirs);
    if (rows[row].fifo) {
      fs::create_directories(Home(".config"));
      ASSERT_EQ(::mkfifo(Home(".config/user-dirs.dirs").c_str(), 0666), 0);
    }
    const FolderTree expected(rows[row].documents);
    const bool documents_existed = fs::exists(rows[row].documents);
    testing::Ending where = RunProgram(testing::QuorvaneExecutable(), home(), {"--where"}, {},
                                       std::chrono::seconds(10));
    ASSERT_FALSE(where.hung) << "--where waited on user-dirs.dirs";
    EXPECT_EQ(where.code, 0);
    EXPECT_EQ(where.standard_error, "");
    ASSERT_EQ(where.standard_output,
              "autofile=" + expected.auto_file + "\ninput=" + expected.InputFile() + "\nresult=" +
                  expected.ResultFile() + "\nsettings=" + expected.SettingsFile() + "\n");
    EXPECT_FALSE(fs::exists(expected.maker));
    EXPECT_EQ(fs::exists(rows[row].documents), documents_existed);

    fs::create_directories(expected.auto_file);
    WriteFile(expected.InputFile(), "110\r\n");
    EXPECT_EQ(Run().code, 0);
    EXPECT_EQ(ReadFile(expected.ResultFile()), "6\r\n");
    fs::remove_all(expected.maker);
  }
}

// A caller's pipes as Python makes them: non-blocking ends, and a reader that takes its time.
// argv: the program, the input file.
constexpr const char* kNonBlockingInput = R"(
import os, subprocess, sys, time
r, w = os.pipe()
os.set_blocking(r, False)  # shared with the reader's end that the program gets
p = subprocess.Popen([sys.argv[1], "--convert"], stdin=r)
os.close(r)
time.sleep(0.3)  # the program finds the pipe empty, and no end to it yet
os.write(w, open(sys.argv[2], "rb").read())
os.close(w)
sys.exit(p.wait())
)";
constexpr const char* kClosedInput = R"(
import os, subprocess, sys
sys.exit(subprocess.run([sys.argv[1], "--convert"], preexec_fn=lambda: os.close(0)).returncode)
)";
constexpr const char* kSlowReader = R"(
import fcntl, os, subprocess, sys, time
r, w = os.pipe()
os.set_blocking(w, False)
p = subprocess.Popen([sys.argv[1], "--convert"], stdin=open(sys.argv[2], "rb"), stdout=w)
os.close(w)
out = b""
while chunk := (time.sleep(0.002), os.read(r, 65536))[1]:
    out += chunk
status = p.wait()
print(len(out.splitlines()), "lines, all", set(out.splitlines()), "; the pipe takes",
      fcntl.fcntl(r, 1032))  # F_GETPIPE_SZ
sys.exit(status)
)";

// --convert without numbers: standard input through a pipe, converted as a drop file is, and
// stopped before the first faulty line, whose number the message gives. A pipe the caller made
// non-blocking is waited on as any other.
TEST_F(EndToEndTest, ConvertReadsAPipeAsADropFile) {
  using namespace std::string_literals;
  std::string million;
  for (int i = 0; i < 1000000; ++i) million += "1\n";
  const struct {
    std::string input;
    int status;
    std::string output;
    std::string error;
    const char* python = nullptr;  // the caller's script; nullptr: cat INPUT | quorvane --convert
  } rows[] = {
      /* 0*/ {"101\r\n\r\n11\n1\r0", 0, "5\n3\n2\n", ""},
      /* 1*/ {"", 0, "", ""},
      /* 2*/
      {"1\n10\n" + std::string(kMaxLineDigits + 1, '1') + "\n1\n", 15, "1\n2\n",
       "quorvane: line 3: more than " + std::to_string(kMaxLineDigits) +
           " digits (the largest number is " + std::to_string(kLargestDecimal) +
           "); nothing from it "
           "on was converted\n"},
      /* 3*/ {"1\n11\0\0\0\0\0\0\0\0\0"s, 0, "1\n3\n", ""},
      /* 4*/
      {"1\n1\0"s + "1\n", 13, "1\n",
       "quorvane: line 2: a byte other than 0, 1, CR and LF; nothing after it was converted\n"},
      /* 5*/ {"101\n11\n", 0, "5\n3\n", "", kNonBlockingInput},
      // A standard input the caller closed is no empty input: nothing can be read from it.
      /* 6*/
      {"", 12, "",
       "quorvane: standard input could not be read: " + SystemErrorText(EBADF) + "\n",
       kClosedInput},
      // 2 MB of output through a pipe made as large as the system lets it be, every line of it.
      /* 7*/
      {million, 0, "1000000 lines, all {b'1'} ; the pipe takes 1048576\n", "", kSlowReader},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    WriteFile(Home("input"), rows[row].input);
    testing::Ending run =
        rows[row].python == nullptr
            ? RunProgram("/bin/sh", home(),
                         {"-c", "cat \"$1\" | \"$0\" --convert", testing::QuorvaneExecutable(),
                          Home("input")},
                         English())
            : RunProgram("/usr/bin/python3", home(),
                         {"-c", rows[row].python, testing::QuorvaneExecutable(), Home("input")},
                         English());
    EXPECT_EQ(run.code, rows[row].status);
    EXPECT_EQ(run.standard_output, rows[row].output);
    EXPECT_EQ(run.standard_error, rows[row].error);
  }
  // None of this needed or made a Documents folder.
  EXPECT_FALSE(fs::exists(Home("Documents")));
}

// Output that cannot be written ends with 16, never with a signal: a full disk, and a reader
// that went away (head) while 2 MB were still to come, more than even a pipe made as large as
// the system allows holds.
TEST_F(EndToEndTest, ConvertEndsWith16WhenItsOutputFails) {
  std::string lines;
  for (int i = 0; i < 1000000; ++i) lines += "1\n";
  WriteFile(Home("input"), lines);
  // The line names the system's reason.
  const struct {
    std::string script;
    int cause;
  } rows[] = {
      {"\"$0\" --convert 1 >/dev/full; echo $?", ENOSPC},
      {"\"$0\" --convert <\"$1\" >/dev/full; echo $?", ENOSPC},
      {"{ \"$0\" --convert <\"$1\"; echo $? >\"$1.status\"; } | head -c 1 >/dev/null; "
       "cat \"$1.status\"",
       EPIPE},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.script);
    testing::Ending run =
        RunProgram("/bin/sh", home(),
                   {"-c", row.script, testing::QuorvaneExecutable(), Home("input")}, English());
    EXPECT_EQ(run.standard_output, "16\n");
    EXPECT_EQ(run.standard_error, "quorvane: standard output could not be written: " +
                                      SystemErrorText(row.cause) + "\n");
  }
}

// The code block of `language` in the README's "Calling Quorvane" section, with the installed
// program's path replaced by the one built here.
std::string ReadmeExample(const std::string& language) {
  const std::string readme = ReadFile(QUORVANE_SOURCE_DIR "/README.md");
  const size_t section = readme.find("\n## Calling Quorvane\n");
  const size_t begin = readme.find("\n```" + language + "\n", section);
  if (section == std::string::npos || begin == std::string::npos) return "";
  const size_t start = begin + language.size() + 5;
  std::string code = readme.substr(start, readme.find("\n```\n", start) + 1 - start);
  return std::regex_replace(code, std::regex("/usr/bin/quorvane"), QUORVANE_EXECUTABLE);
}

// The README's examples for calling programs, run as written, in a HOME whose Documents folder
// has a Japanese name, and in one whose name is bytes that are no UTF-8 at all.
TEST_F(EndToEndTest, ReadmeExamplesForCallingProgramsWork) {
  const struct {
    std::string program, language, output;
  } rows[] = {
      {"/bin/sh", "sh", "5\r\n3\r\n"},
      {"/usr/bin/python3", "python", "[5, 3]\n"},
  };
  for (const std::string documents : {"ドキュメント", "doc\xff\xfe"}) {
    WriteFile(Home(".config/user-dirs.dirs"), "XDG_DOCUMENTS_DIR=\"$HOME/" + documents + "\"\n");
    const FolderTree used(Home(documents));
    for (const auto& row : rows) {
      SCOPED_TRACE(row.language + " in " + documents);
      const std::string code = ReadmeExample(row.language);
      ASSERT_NE(code, "");
      testing::Ending run = RunProgram(row.program, home(), {"-c", code});
      EXPECT_EQ(run.code, 0) << run.standard_error;
      EXPECT_EQ(run.standard_output, row.output);
      EXPECT_TRUE(fs::exists(used.ResultFile()));
      EXPECT_FALSE(fs::exists(used.InputFile()));
      fs::remove_all(used.maker);
    }
  }
}

// Two callers at once, each with numbers of its own, through the README's examples as written:
// the lock the examples take keeps one from reading the other's results.
TEST_F(EndToEndTest, ReadmeExamplesCalledTwiceAtOnceEachGetTheirOwnResults) {
  const struct {
    std::string program, language;
    std::vector<std::string> first, second;  // the arguments after the code
    std::string first_output, second_output;
  } rows[] = {
      {"/bin/sh",
       "sh",
       {"sh", "1", "10"},
       {"sh", "11", "100", "101"},
       "1\r\n2\r\n",
       "3\r\n4\r\n5\r\n"},
      {"/usr/bin/python3", "python", {"1", "10"}, {"11", "100", "101"}, "[1, 2]\n", "[3, 4, 5]\n"},
  };
  for (const auto& row : rows) {
    const std::string code = ReadmeExample(row.language);
    ASSERT_NE(code, "");
    for (int round = 0; round < 20; ++round) {
      SCOPED_TRACE(row.language + " round " + std::to_string(round));
      std::vector<std::string> first = {"-c", code}, second = {"-c", code};
      first.insert(first.end(), row.first.begin(), row.first.end());
      second.insert(second.end(), row.second.begin(), row.second.end());
      std::future<testing::Ending> other =
          std::async(std::launch::async, [&] { return RunProgram(row.program, home(), second); });
      const testing::Ending one = RunProgram(row.program, home(), first);
      const testing::Ending two = other.get();
      EXPECT_EQ(one.code, 0) << one.standard_error;
      EXPECT_EQ(two.code, 0) << two.standard_error;
      EXPECT_EQ(one.standard_output, row.first_output);
      EXPECT_EQ(two.standard_output, row.second_output);
    }
  }
}

// Without the Qt libraries the dialog's module cannot be loaded (here it is not a library at
// all): a person who wanted the dialog learns what to install.
TEST_F(EndToEndTest, DialogWithoutItsModuleSaysWhatToInstall) {
  TempFolder bin;
  fs::copy_file(QUORVANE_EXECUTABLE, bin / "quorvane");
  WriteFile(bin / "libquorvane_qt.so", "not a library");
  testing::Ending run = RunProgram(bin / "quorvane", home(), {}, {"DISPLAY=:0"});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(
      run.standard_error.find(
          "sudo apt install libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins qt6-wayland "
          "fonts-ipafont-gothic"),
      std::string::npos)
      << run.standard_error;
}

// The lines of `text` between `begin` and the next `end` that match `pattern`, by its first group.
std::set<std::string> Collect(const std::string& text, const std::string& begin,
                              const std::string& end, const std::string& pattern) {
  std::set<std::string> found;
  const size_t start = text.find(begin);
  if (start == std::string::npos) return found;
  const size_t stop = text.find(end, start + begin.size());
  std::istringstream lines(text.substr(start + begin.size(), stop - start - begin.size()));
  const std::regex line_pattern(pattern);
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_match(line, match, line_pattern)) found.insert(match[1]);
  }
  return found;
}

// --help and the manual page name the same options and exit statuses, and neither misses a
// status of the README's table for calling programs.
TEST_F(EndToEndTest, HelpAndManualPageAgree) {
  const std::string help = Run({"--help"}, English()).standard_output;
  const std::string manual = ReadFile(QUORVANE_SOURCE_DIR "/docs/quorvane.1");
  const std::string readme = ReadFile(QUORVANE_SOURCE_DIR "/README.md");
  const std::set<std::string> help_options = Collect(help, "Options:\n", "\n\n", "  --([a-z]+) .*");
  const std::set<std::string> help_statuses =
      Collect(help, "Exit status:\n", "\n\n", "  ([0-9]+) .*");
  EXPECT_EQ(help_options,
            std::set<std::string>({"dialog", "batch", "where", "convert", "help", "version"}));
  EXPECT_EQ(Collect(manual, ".SH OPTIONS\n", "\n.SH", "\\.B \\\\-\\\\-([a-z]+)"), help_options);
  EXPECT_EQ(Collect(manual, ".SH EXIT STATUS\n", "\n.SH", "\\.B ([0-9]+)"), help_statuses);
  const std::set<std::string> readme_statuses =
      Collect(readme, "| Status | Meaning", "\n\n", "\\| ([0-9]+) \\|.*");
  EXPECT_GE(readme_statuses.size(), 10u);
  EXPECT_TRUE(std::includes(help_statuses.begin(), help_statuses.end(), readme_statuses.begin(),
                            readme_statuses.end()));

  // As man renders it, the cmd line can be copied as it stands.
  const testing::Ending rendered = RunProgram(
      "/usr/bin/man", home(), {"-l", QUORVANE_SOURCE_DIR "/docs/quorvane.1"}, {"MANWIDTH=200"});
  ASSERT_EQ(rendered.code, 0) << rendered.standard_error;
  const std::string words = std::regex_replace(rendered.standard_output, std::regex("\\s+"), " ");
  EXPECT_NE(words.find("start \"\" /wait Quorvane.exe /batch"), std::string::npos) << words;
}

// The README's glossary, which the package installs, names the dialog's texts as the catalogue
// holds them: each of its Japanese texts is one (or a line of one), and every Japanese caption of
// both dialogs is in it.
TEST(ReadmeTest, GlossaryAgreesWithTheCatalogue) {
  const std::string readme = ReadFile(QUORVANE_SOURCE_DIR "/README.md");
  const std::set<std::string> glossary =
      Collect(readme, "## Glossary of the dialog's texts", "\n\n## ", "\\| ([^|]+) \\| .* \\|");
  ASSERT_GE(glossary.size(), 30u);
  for (const std::string& text : glossary) {
    if (text == "Text") continue;  // the table's heading
    bool found = false;
    for (const CatalogueEntry& entry : Catalogue()) {
      // The glossary writes a message's lines one after the other.
      std::string japanese = Format(entry.id, Language::kJapanese, {"N"});
      std::erase(japanese, '\r');
      std::erase(japanese, '\n');
      found = found || japanese.find(text) != std::string::npos;
    }
    EXPECT_TRUE(found) << "the glossary names a text the catalogue does not hold: " << text;
  }
  for (const DialogTemplate* dialog : {&MainDialogTemplate(), &VersionDialogTemplate()}) {
    for (const ControlTemplate& control : dialog->controls) {
      if (control.text == TextId::kVersionLine) continue;  // a name and a number
      const std::string& text = Text(control.text, Language::kJapanese);
      const bool ascii = std::all_of(text.begin(), text.end(),
                                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
      if (!ascii) {
        EXPECT_EQ(glossary.count(text), 1u) << "missing from the glossary: " << text;
      }
    }
  }
}

// An automatic run's message goes to standard error only when the settings allow messages; a
// person who started it at a terminal (here under script(1), whose terminal is a pseudo-terminal)
// reads its outcome in one line there all the same, and never twice.
TEST_F(EndToEndTest, MessagesGoToStandardErrorOnlyWhenTheSettingsAllowThem) {
  const std::string message = "「Bintake.tbin」ファイルがりません。";
  const struct {
    const char* settings;
    bool terminal;
    size_t told;  // how often the message is on standard error
    bool line;    // the outcome's line, with its status
  } cases[] = {
      /*0*/ {"1\r\n1", false, 1, false},
      /*1*/ {"1\r\n0", false, 0, false},
      /*2*/ {"0\r\n1", false, 0, false},
      /*3*/ {"", false, 1, false},
      /*4*/ {"1\r\n0", true, 1, true},
      /*5*/ {"1\r\n1", true, 1, false},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    const auto& c = cases[row];
    SCOPED_TRACE("row " + std::to_string(row));
    fs::remove_all(folders_.data_root);
    MakeDropFolder();
    WriteFile(folders_.SettingsFile(), c.settings);
    // script -e ends with the program's status; what the program wrote to its terminal is on
    // script's standard output.
    testing::Ending run = c.terminal
                              ? RunProgram("/usr/bin/script", home(),
                                           {"-qec", testing::QuorvaneExecutable(), "/dev/null"})
                              : Run();
    const std::string told = c.terminal ? run.standard_output : run.standard_error;
    EXPECT_EQ(run.code, 10);
    size_t count = 0;
    for (size_t at = told.find(message); at != std::string::npos; at = told.find(message, at + 1)) {
      ++count;
    }
    EXPECT_EQ(count, c.told) << told;
    EXPECT_EQ(told.find("(status 10)") != std::string::npos, c.line) << told;
  }
}

TEST_F(EndToEndTest, ReadOnlyInputIsConvertedAndDeleted) {
  MakeDropFolder();
  DropInput("1111\r\n");
  ::chmod(folders_.InputFile().c_str(), 0444);
  EXPECT_EQ(Run().code, 0);
  EXPECT_FALSE(InputExists());
  EXPECT_EQ(ReadFile(folders_.ResultFile()), "15\r\n");
}

TEST_F(EndToEndTest, UnwritableResultKeepsTheInputAndSaysSo) {
  MakeDropFolder();
  DropInput("1\r\n");
  fs::create_directories(folders_.ResultFile());  // a folder in the result file's place
  WriteFile(folders_.SettingsFile(), "1\r\n1");
  testing::Ending run = Run();
  EXPECT_EQ(run.code, 16);
  EXPECT_TRUE(InputExists());
  EXPECT_NE(run.standard_error.find("Decyield.tbin"), std::string::npos);
}

// The completion sound: with a desktop session the sound theme's event through libcanberra (here
// a stand-in that writes down what it is asked to play), without one nothing is loaded; a sound
// that cannot be played never fails the run.
TEST_F(EndToEndTest, CompletionSoundThroughTheDesktopWhenThereIsOne) {
  const struct {
    const char* name;
    testing::Environment environment;
    const char* asked;  // nullptr: the library was never asked
  } cases[] = {
      /* 0*/ {"display", {"DISPLAY=:97"}, "complete\n"},
      /* 1*/ {"Wayland", {"WAYLAND_DISPLAY=wayland-97"}, "complete\n"},
      /* 2*/
      {"no sound plays",
       {"DISPLAY=:97", "QUORVANE_TEST_SOUND_FAILS=1"},
       "complete\ndialog-information\n"},
      /* 3*/ {"no display", {}, nullptr},
      // A Qt platform named without a display is no desktop session.
      /* 4*/ {"a Qt platform but no display", {"QT_QPA_PLATFORM=offscreen"}, nullptr},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + cases[row].name);
    const auto& c = cases[row];
    const std::string log = Home("sounds-" + std::to_string(row));
    testing::Environment environment = c.environment;
    environment.push_back(std::string("LD_LIBRARY_PATH=") + QUORVANE_FAKE_SOUND_DIR);
    environment.push_back("QUORVANE_TEST_SOUND_LOG=" + log);
    MakeDropFolder();
    DropInput("11\r\n");
    testing::Ending run = Run({}, environment);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(ReadFile(folders_.ResultFile()), "3\r\n");
    EXPECT_EQ(run.standard_error, "");
    EXPECT_EQ(fs::exists(log), c.asked != nullptr);
    if (c.asked != nullptr) {
      EXPECT_EQ(ReadFile(log), c.asked);
    }
  }
}

// What a result file must be for an input file, worked out independently of the program: split
// at LF, drop CR, skip empty lines; a line over kMaxLineDigits digits refuses the whole file.
std::optional<std::string> Oracle(const std::string& input) {
  std::string result, line;
  bool refused = false;
  auto finish_line = [&] {
    if (line.empty()) return;
    if (line.size() > kMaxLineDigits) refused = true;
    if (!refused) result += std::to_string(std::stoull(line, nullptr, 2)) + "\r\n";
    line.clear();
  };
  for (char c : input) {
    if (c == '\n') {
      finish_line();
    } else if (c != '\r') {
      line += c;
    }
  }
  finish_line();
  if (refused) return std::nullopt;
  return result;
}

std::string RandomInput(std::mt19937& random) {
  std::uniform_int_distribution<int> lines(1, 60), digits(1, kMaxLineDigits), bit(0, 1),
      pick(0, 99);
  const char* breaks[] = {"\r\n", "\n", "\r\n\r\n", "\n\n", "\r"};
  std::string input;
  for (int l = lines(random); l > 0; --l) {
    int width = pick(random) == 0 ? kMaxLineDigits + 1 + pick(random) % 5 : digits(random);
    for (int d = 0; d < width; ++d) input += static_cast<char>('0' + bit(random));
    input += breaks[pick(random) % 5];
  }
  if (pick(random) < 30) input.resize(input.size() - 1);  // sometimes no final line end
  return input;
}

TEST_F(EndToEndTest, RandomFilesMatchTheOracle) {
  std::mt19937 random(20261207);
  int refused = 0;
  for (int round = 0; round < 150; ++round) {
    const std::string input = RandomInput(random);
    SCOPED_TRACE("round " + std::to_string(round) + ": " + input);
    MakeDropFolder();
    fs::remove(folders_.ResultFile());
    DropInput(input);
    testing::Ending run = Run();
    std::optional<std::string> expected = Oracle(input);
    if (expected) {
      ASSERT_EQ(run.code, 0);
      ASSERT_EQ(ReadFile(folders_.ResultFile()), *expected);
      ASSERT_FALSE(InputExists());
    } else {
      ++refused;
      ASSERT_EQ(run.code, 15);
      ASSERT_FALSE(ResultExists());
      ASSERT_TRUE(InputExists());
    }
  }
  EXPECT_GT(refused, 0);  // the generator did reach the refusal path
  EXPECT_LT(refused, 150);
}

}  // namespace
}  // namespace quorvane
