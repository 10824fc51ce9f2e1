#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "storage/settings.h"
#include "tests/support/delete_tree.h"
#include "tests/support/temp_home.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::DeleteTree;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

FileSystem& Files() { return RealFileSystem(); }

void MarkReadOnly(const std::string& path) { ::chmod(path.c_str(), 0444); }

TEST(FolderTreeTest, EveryPathIsTheDocumentsFolderAndASuffix) {
  const FolderTree tree("/home/u/Documents");
  EXPECT_EQ(tree.data_root, "/home/u/Documents/Brenvale/MFCQuorvane");
  EXPECT_EQ(tree.result, "/home/u/Documents/Brenvale/MFCQuorvane/Result");
  EXPECT_EQ(tree.temp, "/home/u/Documents/Brenvale/MFCQuorvane/temp");
  EXPECT_EQ(tree.auto_file, "/home/u/Documents/Brenvale/MFCQuorvane/AutoFile");
  EXPECT_EQ(tree.SettingsFile(), "/home/u/Documents/Brenvale/MFCQuorvane/temp/Quorvane.tmp");
  EXPECT_EQ(tree.InputFile(), "/home/u/Documents/Brenvale/MFCQuorvane/AutoFile/Bintake.tbin");
  EXPECT_EQ(tree.ResultFile(), "/home/u/Documents/Brenvale/MFCQuorvane/Result/Decyield.tbin");
}

// Sets environment variables for one test and puts them back afterwards.
class ScopedEnvironment {
 public:
  void Set(const char* name, const std::string& value) {
    Remember(name);
    ::setenv(name, value.c_str(), 1);
  }
  void Unset(const char* name) {
    Remember(name);
    ::unsetenv(name);
  }
  ~ScopedEnvironment() {
    for (auto& [name, value] : saved_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

 private:
  void Remember(const char* name) {
    if (saved_.count(name)) return;
    const char* value = std::getenv(name);
    saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
  }
  std::map<std::string, std::optional<std::string>> saved_;
};

TEST(DocumentsFolderTest, FollowsXdgUserDirsElseHomeDocuments) {
  TempFolder home;
  ScopedEnvironment env;
  env.Set("HOME", home.path().string());
  env.Unset("XDG_CONFIG_HOME");
  const std::string dirs = home / ".config/user-dirs.dirs";
  const struct {
    const char* file;  // nullptr: no user-dirs.dirs at all
    std::string documents;
  } cases[] = {
      /*0*/ {nullptr, home / "Documents"},
      /*1*/ {"XDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"\n", home / "ドキュメント"},
      /*2*/
      {"# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"/srv/docs/\"\n",
       "/srv/docs"},
      /*3*/ {"XDG_DOCUMENTS_DIR=\"relative\"\n", home / "Documents"},
      /*4*/ {"XDG_DOCUMENTS_DIR=\"$HOME/My Files\"\n", home / "My Files"},
      // A sibling of the home folder is no Documents folder of its.
      /*5*/ {"XDG_DOCUMENTS_DIR=\"$HOMEx\"\n", home / "Documents"},
      /*6*/ {"XDG_DOCUMENTS_DIR=\"$HOME\"\n", home.path().string()},
      // As xdg-user-dir reads it: the last line counts, blanks before the name are skipped, and
      // an unusable last line falls back to ~/Documents.
      /*7*/
      {"XDG_DOCUMENTS_DIR=\"$HOME/First\"\nXDG_DOCUMENTS_DIR=\"$HOME/Last\"\n", home / "Last"},
      /*8*/ {"  \tXDG_DOCUMENTS_DIR=\"$HOME/Indented\"\n", home / "Indented"},
      /*9*/
      {"XDG_DOCUMENTS_DIR=\"$HOME/First\"\nXDG_DOCUMENTS_DIR=\"$HOMEx\"\n", home / "Documents"},
      // As xdg-user-dirs-update writes $, `, " and \ inside the quotes, and the shell reads them.
      /*10*/ {R"(XDG_DOCUMENTS_DIR="$HOME/a\$b")", home / "a$b"},
      /*11*/ {R"(XDG_DOCUMENTS_DIR="$HOME/a\`b\`")", home / "a`b`"},
      /*12*/ {R"(XDG_DOCUMENTS_DIR="$HOME/say \"hi\"")", home / "say \"hi\""},
      /*13*/ {R"(XDG_DOCUMENTS_DIR="/srv/back\\slash\\")", "/srv/back\\slash\\"},
      // Any other backslash is itself; an escaped "$HOME" is no variable, so the path is relative.
      /*14*/ {R"(XDG_DOCUMENTS_DIR="$HOME/a\nb\c")", home / "a\\nb\\c"},
      /*15*/ {R"(XDG_DOCUMENTS_DIR="\$HOME/Escaped")", home / "Documents"},
      /*16*/ {R"(XDG_DOCUMENTS_DIR="$HOME/unclosed\")", home / "Documents"},
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    fs::remove(dirs);
    if (cases[row].file) WriteFile(dirs, cases[row].file);
    EXPECT_EQ(QueryDocumentsFolder(), cases[row].documents);
  }
  // XDG_CONFIG_HOME moves the file.
  TempFolder config;
  WriteFile(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
  env.Set("XDG_CONFIG_HOME", config.path().string());
  EXPECT_EQ(QueryDocumentsFolder(), home / "Papers");

  // A named pipe with a writer that never writes is not waited on.
  fs::remove(config / "user-dirs.dirs");
  ASSERT_EQ(::mkfifo((config / "user-dirs.dirs").c_str(), 0666), 0);
  const int writer = ::open((config / "user-dirs.dirs").c_str(), O_RDWR);
  EXPECT_EQ(QueryDocumentsFolder(), home / "Documents");
  ::close(writer);

  // A relative XDG_CONFIG_HOME is ignored: it would be read from whatever folder the program was
  // started in.
  TempFolder working;
  WriteFile(working / "relative/user-dirs.dirs",
            "XDG_DOCUMENTS_DIR=\"/from/the/working/folder\"\n");
  const fs::path before = fs::current_path();
  fs::current_path(working.path());
  env.Set("XDG_CONFIG_HOME", "relative");
  const std::string relative_config = QueryDocumentsFolder();
  fs::current_path(before);
  EXPECT_EQ(relative_config, home / "Documents");
}

// Which home folder the Documents folder is found from: HOME, else the password database's; a
// relative one gives none, rather than a folder that depends on where the program was started.
TEST(DocumentsFolderTest, HomeFolderComesFromHomeElseThePasswordDatabase) {
  using Problem = DocumentsLookup::Problem;
  TempFolder config;
  ScopedEnvironment env;
  env.Set("XDG_CONFIG_HOME", config.path().string());
  WriteFile(config / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
  const passwd* entry = ::getpwuid(::getuid());
  ASSERT_NE(entry, nullptr);
  const std::string database_home = entry->pw_dir;
  const struct {
    std::optional<std::string> home;  // nullopt: unset
    std::string documents;
    Problem problem;
    std::string refused;
  } rows[] = {
      /*0*/ {"/home/u", "/home/u/Papers", Problem::kNone, ""},
      /*1*/ {"", database_home + "/Papers", Problem::kNone, ""},
      /*2*/ {std::nullopt, database_home + "/Papers", Problem::kNone, ""},
      /*3*/ {"home/u", "", Problem::kHomeNotAbsolute, "home/u"},
      /*4*/ {".", "", Problem::kHomeNotAbsolute, "."},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    if (rows[row].home) {
      env.Set("HOME", *rows[row].home);
    } else {
      env.Unset("HOME");
    }
    const DocumentsLookup lookup = LookUpDocumentsFolder();
    EXPECT_EQ(lookup.path, rows[row].documents);
    EXPECT_EQ(lookup.problem, rows[row].problem);
    EXPECT_EQ(lookup.refused, rows[row].refused);
    EXPECT_EQ(QueryDocumentsFolder(), rows[row].documents);
  }
}

TEST(FilePrimitivesTest, ExistenceTestsTellFilesFromFolders) {
  TempFolder dir;
  WriteFile(dir / "file", "x");
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "nowhere", dir / "dangling");
  const struct {
    std::string path;
    bool directory, file;
  } cases[] = {
      {dir / "file", false, true},
      {dir / "folder", true, false},
      {dir / "missing", false, false},
      {dir / "dangling", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(DirectoryExists(Files(), c.path), c.directory);
    EXPECT_EQ(FileExists(Files(), c.path), c.file);
  }
}

TEST(FilePrimitivesTest, ReadsExactlyTheFileUpToTheLimit) {
  TempFolder dir;
  WriteFile(dir / "four", "abcd");
  WriteFile(dir / "three", "xyz");
  EXPECT_EQ(ReadWholeFile(Files(), dir / "four").bytes, "abcd");
  FileContents three = ReadWholeFile(Files(), dir / "three");
  EXPECT_EQ(three.outcome, FileSystem::ReadOutcome::kOk);
  EXPECT_EQ(three.bytes, "xyz");

  WriteFile(dir / "zero", std::string("1\0"
                                      "1",
                                      3));
  EXPECT_EQ(ReadWholeFile(Files(), dir / "zero").bytes, std::string("1\0"
                                                                    "1",
                                                                    3));

  const std::string at_limit(kReadLimit, '1');
  WriteFile(dir / "at_limit", at_limit);
  FileContents whole = ReadWholeFile(Files(), dir / "at_limit");
  EXPECT_EQ(whole.outcome, FileSystem::ReadOutcome::kOk);
  EXPECT_EQ(whole.bytes.size(), kReadLimit);

  WriteFile(dir / "over", at_limit + "0");
  FileContents over = ReadWholeFile(Files(), dir / "over");
  EXPECT_EQ(over.outcome, FileSystem::ReadOutcome::kTooLarge);
  EXPECT_EQ(over.bytes, "");  // refused whole

  EXPECT_EQ(ReadWholeFile(Files(), dir / "missing").outcome, FileSystem::ReadOutcome::kCannotOpen);
  EXPECT_EQ(ReadWholeFile(Files(), dir.path().string()).outcome,
            FileSystem::ReadOutcome::kCannotOpen);
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// What the umask gives a new file, which its owner may always read and write.
mode_t UmaskMode() {
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return (0666 & ~mask) | 0600;
}

// Whatever stands at the file's name (or at a name a temporary could take) is replaced or
// refused, never written through; no temporary file is left either way. The new file's mode is
// never taken from a file that is not the user's own, and grants nobody a read that the file it
// was made from (`readable`) did not grant.
TEST(FilePrimitivesTest, ReplaceFileSafelyReplacesWholeOrNotAtAll) {
  constexpr mode_t kAsTheUmaskGives = 01000;
  struct Row {
    const char* name;
    std::function<void(const std::string& path, const std::string& outside)> setup;
    bool replaced;
    mode_t mode;  // of the new file; 0: not looked at
    uint32_t readable = 0777;
  };
  const auto plant_links = [](const std::string& path, const std::string& outside) {
    // A link at the old fixed temporary name, and a hard link at the very name that the next
    // temporary will be given.
    fs::create_symlink(outside, path + ".partial");
    SeedPrivateNames(1);
    fs::create_hard_link(outside, NewTemporaryPathFor(path));
    SeedPrivateNames(1);
  };
  const Row rows[] = {
      /* 0*/ {"an old result", [](auto& path, auto&) { WriteFile(path, "old\r\n"); }, true, 0},
      /* 1*/ {"nothing yet", nullptr, true, 0},
      /* 2*/
      {"its mode is kept",
       [](auto& path, auto&) {
         WriteFile(path, "old\r\n");
         ::chmod(path.c_str(), 0640);
       },
       true, 0640},
      /* 3*/
      {"a link to a world-writable file elsewhere: its mode is not the result's",
       [](auto& path, auto& outside) {
         ::chmod(outside.c_str(), 0666);
         fs::create_symlink(outside, path);
       },
       true, kAsTheUmaskGives},
      /* 4*/
      {"a hard link to a file elsewhere",
       [](auto& path, auto& outside) { fs::create_hard_link(outside, path); }, true, 0},
      /* 5*/
      {"a dangling link", [](auto& path, auto&) { fs::create_symlink(path + ".nowhere", path); },
       true, 0},
      /* 6*/ {"links planted at temporary names", plant_links, true, 0},
      /* 7*/
      {"read-only: refused",
       [](auto& path, auto&) {
         WriteFile(path, "old\r\n");
         MarkReadOnly(path);
       },
       false, 0},
      /* 8*/ {"a folder: refused", [](auto& path, auto&) { fs::create_directory(path); }, false, 0},
      /* 9*/
      {"no folder to hold it: refused",
       [](auto& path, auto&) { fs::remove_all(fs::path(path).parent_path()); }, false, 0},
      // The mark of a link's target is not the link's: the link goes, the target stays as it is.
      /*10*/
      {"a link to a read-only file elsewhere",
       [](auto& path, auto& outside) {
         ::chmod(outside.c_str(), 0444);
         fs::create_symlink(outside, path);
       },
       true, 0},
      // Only a file that no one may write is read-only; one its group may write is replaced.
      /*11*/
      {"a result only its group may write: replaced, its mode kept",
       [](auto& path, auto&) {
         WriteFile(path, "old\r\n");
         ::chmod(path.c_str(), 0464);
       },
       true, 0664},
      /*12*/
      {"another user's world-readable file: the umask decides",
       [](auto& path, auto&) {
         WriteFile(path, "old\r\n");
         ::chmod(path.c_str(), 0666);
         EXPECT_EQ(::chown(path.c_str(), 4242, 4242), 0) << "the test runs as root";
       },
       true, kAsTheUmaskGives},
      /*13*/
      {"made from a file its owner alone may read: so is this one",
       [](auto& path, auto&) {
         WriteFile(path, "old\r\n");
         ::chmod(path.c_str(), 0644);
       },
       true, 0600, 0600},
      /*14*/
      {"made from a file its group may read: others lose their read",
       [](auto& path, auto&) {
         WriteFile(path, "old\r\n");
         ::chmod(path.c_str(), 0664);
       },
       true, 0660, 0640},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].name);
    TempFolder dir;
    const std::string path = dir / "Result/Decyield.tbin";
    const std::string outside = dir / "precious";
    WriteFile(outside, "precious");
    fs::create_directories(dir / "Result");
    if (rows[row].setup) rows[row].setup(path, outside);
    const bool existed = fs::exists(fs::symlink_status(path));
    const std::string before = fs::is_regular_file(path) ? ReadFile(path) : "";
    const auto temporaries = [&] {
      size_t count = 0;
      std::error_code ignored;
      for (const auto& entry : fs::directory_iterator(dir / "Result", ignored)) {
        count += IsTemporaryNameFor(entry.path().filename().string(), "Decyield.tbin");
      }
      return count;
    };
    const size_t planted = temporaries();
    const mode_t outside_mode = ModeOf(outside);

    EXPECT_EQ(ReplaceFileSafely(Files(), path, "5\r\n3\r\n", rows[row].readable).done,
              rows[row].replaced);
    EXPECT_EQ(ReadFile(outside), "precious");
    EXPECT_EQ(ModeOf(outside), outside_mode);
    if (rows[row].replaced) {
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path)));
      EXPECT_EQ(ReadFile(path), "5\r\n3\r\n");
      EXPECT_EQ(ModeOf(path) & 0600, 0600u);
      if (rows[row].mode != 0) {
        EXPECT_EQ(ModeOf(path), rows[row].mode == kAsTheUmaskGives ? UmaskMode() : rows[row].mode);
      }
    } else if (existed && fs::is_regular_file(path)) {
      EXPECT_EQ(ReadFile(path), before);
    }
    EXPECT_EQ(temporaries(), planted) << "a temporary file was left";
  }
}

TEST(FilePrimitivesTest, OnlyPlainFilesOfTheTemporaryPatternAreLeftovers) {
  TempFolder dir;
  const std::string path = dir / "Decyield.tbin";
  const std::string outside = dir / "precious";
  WriteFile(outside, "precious");
  const struct {
    std::string name;
    std::function<void(const std::string&)> make;
    bool removed;
  } rows[] = {
      /* 0*/ {"Decyield.tbin.k3x9zq.partial", [](auto& p) { WriteFile(p, "5\r"); }, true},
      /* 1*/ {"Decyield.tbin.partial", [](auto& p) { WriteFile(p, "5\r"); }, true},
      /* 2*/
      {"Decyield.tbin.linked.partial", [&](auto& p) { fs::create_symlink(outside, p); }, false},
      /* 3*/ {"Decyield.tbin.folder.partial", [](auto& p) { fs::create_directory(p); }, false},
      /* 4*/ {"Decyield.tbin", [](auto& p) { WriteFile(p, "3\r\n"); }, false},
      /* 5*/ {"Other.tbin.abcdef.partial", [](auto& p) { WriteFile(p, "x"); }, false},
      /* 6*/ {"Decyield.tbin.abcdef.partial.txt", [](auto& p) { WriteFile(p, "x"); }, false},
      /* 7*/ {"Decyield.tbinX.partial", [](auto& p) { WriteFile(p, "x"); }, false},
  };
  for (const auto& row : rows) row.make(dir / row.name);
  // Leftovers whose names fill the folder listing's buffer many times over are all found.
  std::vector<std::string> many;
  for (int i = 0; i < 300; ++i) {
    many.push_back("Decyield.tbin." + std::string(200, 'a') + std::to_string(i) + ".partial");
    WriteFile(dir / many.back(), "5\r");
  }
  RemoveLeftoverTemporaries(Files(), path);
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].name);
    EXPECT_EQ(fs::exists(fs::symlink_status(dir / rows[row].name)), !rows[row].removed);
  }
  EXPECT_EQ(std::count_if(many.begin(), many.end(),
                          [&](const std::string& name) { return fs::exists(dir / name); }),
            0);
  EXPECT_EQ(ReadFile(outside), "precious");
}

// A claim a killed run left goes back under the input's name, unless something stands there or
// a copy at work holds it; only names of the claim pattern are claims.
TEST(FilePrimitivesTest, AbandonedClaimsGoBackAndHeldOnesStay) {
  const struct {
    const char* name;
    std::function<void(const std::string& input, const std::string& claim,
                       const std::string& outside)>
        make;
    const char* input_after;  // Bintake.tbin's bytes afterwards; nullptr: none
    bool claim_stays;
    bool held;
  } rows[] = {
      /* 0*/
      {"a plain file", [](auto&, auto& claim, auto&) { WriteFile(claim, "110"); }, "110", false,
       false},
      /* 1*/
      {"a link: it goes back as a link",
       [](auto&, auto& claim, auto& outside) { fs::create_symlink(outside, claim); }, "101", false,
       false},
      /* 2*/
      {"beside an input: it waits for the name",
       [](auto& input, auto& claim, auto&) {
         WriteFile(input, "1");
         WriteFile(claim, "110");
       },
       "1", true, false},
      /* 3*/
      {"a name without the dot is no claim",
       [](auto& input, auto&, auto&) { WriteFile(input + "X.claim", "110"); }, nullptr, false,
       false},
      /* 4*/
      {"the input's second name: the claim name only goes",
       [](auto& input, auto& claim, auto&) {
         WriteFile(input, "110");
         fs::create_hard_link(input, claim);
       },
       "110", false, false},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].name);
    TempFolder dir;
    const std::string input = dir / "Bintake.tbin";
    const std::string claim = input + ".k1ll3d.claim";
    const std::string outside = dir / "outside";
    WriteFile(outside, "101");
    rows[row].make(input, claim, outside);
    const ClaimsFound found = RestoreClaimedFiles(Files(), input);
    EXPECT_EQ(found.held, rows[row].held);
    EXPECT_EQ(found.stranded, "");
    if (rows[row].input_after == nullptr) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(input)));
    } else {
      EXPECT_EQ(ReadFile(input), rows[row].input_after);
    }
    EXPECT_EQ(fs::exists(fs::symlink_status(claim)), rows[row].claim_stays);
    EXPECT_EQ(ReadFile(outside), "101");
    if (row == 1) {
      EXPECT_TRUE(fs::is_symlink(input));
    }
  }

  // A claim that a copy at work holds (here this process, reading it) is that copy's: nothing is
  // moved, not even another, abandoned claim beside it.
  TempFolder dir;
  const std::string input = dir / "Bintake.tbin";
  WriteFile(input + ".h3ld00.claim", "1");
  WriteFile(input + ".k1ll3d.claim", "11");
  std::unique_ptr<FileView> at_work;
  ASSERT_EQ(Files().ViewFile(input + ".h3ld00.claim", kReadLimit, at_work),
            FileSystem::ReadOutcome::kOk);
  EXPECT_TRUE(RestoreClaimedFiles(Files(), input).held);
  EXPECT_FALSE(fs::exists(input));
  EXPECT_TRUE(fs::exists(input + ".k1ll3d.claim"));
  at_work.reset();
  EXPECT_FALSE(RestoreClaimedFiles(Files(), input).held);
  EXPECT_TRUE(fs::exists(input));
}

TEST(FilePrimitivesTest, DeleteTreeRemovesEverythingButProtectedFiles) {
  TempFolder dir;
  const std::string root = dir / "tree";
  WriteFile(root + "/a.txt", "a");
  WriteFile(root + "/sub/b.txt", "b");
  WriteFile(root + "/sub/deeper/c.txt", "c");
  fs::create_directories(root + "/empty");
  EXPECT_TRUE(DeleteTree(Files(), root));
  EXPECT_FALSE(fs::exists(root));

  // A read-only file stays, and so does every folder above it; the rest goes.
  WriteFile(root + "/keep/locked.txt", "l");
  WriteFile(root + "/keep/other.txt", "o");
  WriteFile(root + "/gone/x.txt", "x");
  MarkReadOnly(root + "/keep/locked.txt");
  EXPECT_TRUE(DeleteTree(Files(), root));
  EXPECT_TRUE(fs::exists(root + "/keep/locked.txt"));
  EXPECT_FALSE(fs::exists(root + "/keep/other.txt"));
  EXPECT_FALSE(fs::exists(root + "/gone"));

  // Nothing to list: nothing deleted.
  EXPECT_FALSE(DeleteTree(Files(), dir / "missing"));
  WriteFile(dir / "plain", "p");
  EXPECT_FALSE(DeleteTree(Files(), dir / "plain"));
  EXPECT_TRUE(fs::exists(dir / "plain"));
}

// The input file is deleted only while it is the very file that was read, unwritten since, and no
// file's mode is changed on the way.
TEST(FilePrimitivesTest, AViewDeletesOnlyTheFileThatWasRead) {
  const struct {
    const char* name;
    std::function<void(const std::string& path, const std::string& outside)> change;
    DeleteOutcome outcome;
    const char* left;  // what the name holds afterwards; nullptr: nothing
  } rows[] = {
      /* 0*/ {"unchanged", nullptr, DeleteOutcome::kDeleted, nullptr},
      /* 1*/
      {"read-only: deleted all the same", [](auto& p, auto&) { MarkReadOnly(p); },
       DeleteOutcome::kDeleted, nullptr},
      /* 2*/
      {"another file renamed into its place",
       [](auto& p, auto&) {
         WriteFile(p + ".new", "11\n");
         fs::rename(p + ".new", p);
       },
       DeleteOutcome::kReplaced, "11\n"},
      /* 3*/
      {"a program opens it to write while it is held",
       [](auto& p, auto&) {
         // The writer would wait for the holder; without waiting it is told to try again.
         const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
         EXPECT_EQ(fd, -1);
         EXPECT_EQ(errno, EWOULDBLOCK);
       },
       DeleteOutcome::kChanged, "1\n11\n10"},
      /* 4*/ {"gone", [](auto& p, auto&) { fs::remove(p); }, DeleteOutcome::kNotFound, nullptr},
      /* 5*/
      {"a hard link to a read-only file elsewhere: that file keeps its mode",
       [](auto& p, auto& outside) {
         fs::remove(p);
         fs::create_hard_link(outside, p);
       },
       DeleteOutcome::kReplaced, "101\n"},
  };
  for (size_t row = 0; row < std::size(rows); ++row) {
    SCOPED_TRACE("row " + std::to_string(row) + ": " + rows[row].name);
    TempFolder dir;
    const std::string path = dir / "Bintake.tbin";
    const std::string outside = dir / "elsewhere";
    WriteFile(outside, "101\n");
    MarkReadOnly(outside);
    WriteFile(path, "1\n11\n10");
    std::unique_ptr<FileView> view;
    ASSERT_EQ(Files().ViewFile(path, kReadLimit, view), FileSystem::ReadOutcome::kOk);
    if (rows[row].change) rows[row].change(path, outside);
    EXPECT_EQ(view->Delete(), rows[row].outcome);
    if (rows[row].left == nullptr) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(path)));
    } else {
      EXPECT_EQ(ReadFile(path), rows[row].left);
    }
    EXPECT_EQ(ModeOf(outside), 0444u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()),
              rows[row].left == nullptr ? 1 : 2)
        << "a claimed file was left";
  }

  // A link is deleted as a link, and so is a hard link: the file elsewhere keeps its content and
  // its read-only mark.
  for (const bool symbolic : {true, false}) {
    TempFolder dir;
    const std::string outside = dir / "elsewhere";
    WriteFile(outside, "101\n");
    MarkReadOnly(outside);
    if (symbolic) {
      fs::create_symlink(outside, dir / "Bintake.tbin");
    } else {
      fs::create_hard_link(outside, dir / "Bintake.tbin");
    }
    std::unique_ptr<FileView> view;
    ASSERT_EQ(Files().ViewFile(dir / "Bintake.tbin", kReadLimit, view),
              FileSystem::ReadOutcome::kOk);
    EXPECT_FALSE(Files().DeleteFile(outside));  // protected as it is
    EXPECT_EQ(view->Delete(), DeleteOutcome::kDeleted);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "Bintake.tbin")));
    EXPECT_EQ(ReadFile(outside), "101\n");
    EXPECT_EQ(ModeOf(outside), 0444u);
  }
}

// Nothing is read half-way: not a file another program still holds open for writing, nor a pipe.
TEST(FilePrimitivesTest, ReadsOnlyPlainFilesNobodyIsWriting) {
  TempFolder dir;
  const std::string path = dir / "Bintake.tbin";
  WriteFile(path, "1\n11\n10");
  {
    std::ofstream writer(path, std::ios::app | std::ios::binary);
    EXPECT_EQ(ReadWholeFile(Files(), path).outcome, FileSystem::ReadOutcome::kBusy);
  }
  FileContents read = ReadWholeFile(Files(), path);
  EXPECT_EQ(read.outcome, FileSystem::ReadOutcome::kOk);
  EXPECT_EQ(read.stamp, Files().Status(path)->stamp);

  const std::string fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  const int writer = ::open(fifo.c_str(), O_RDWR);  // a writer that never writes
  EXPECT_EQ(ReadWholeFile(Files(), fifo).outcome, FileSystem::ReadOutcome::kCannotOpen);
  ::close(writer);
  EXPECT_EQ(ReadWholeFile(Files(), "/dev/null").outcome, FileSystem::ReadOutcome::kCannotOpen);
}

TEST(FilePrimitivesTest, FolderCreationIsOneLevelOnly) {
  TempFolder dir;
  EXPECT_FALSE(Files().MakeDirectory(dir / "Brenvale/MFCQuorvane"));
  EXPECT_TRUE(Files().MakeDirectory(dir / "Brenvale"));
  EXPECT_FALSE(Files().MakeDirectory(dir / "Brenvale"));  // exists already
  EXPECT_TRUE(Files().MakeDirectory(dir / "Brenvale/MFCQuorvane"));
}

struct SettingsCase {
  std::string bytes;
  std::string line0, line1;
};

TEST(ParseSettingsTextTest, SplitsAtLineFeedsAndDropsCrAndHighBytes) {
  const SettingsCase cases[] = {
      /* 0*/ {"1\r\n1", "1", "1"},
      /* 1*/ {"1\r\n0", "1", "0"},
      /* 2*/ {"0\r\n1", "0", "1"},
      /* 3*/ {"1\r\n1\r\n", "1", "1"},
      /* 4*/ {"1\n0", "1", "0"},
      /* 5*/ {"", "", ""},
      /* 6*/ {"0", "0", ""},
      /* 7*/ {"1", "1", ""},
      /* 8*/ {" 0\r\n0", " 0", "0"},
      /* 9*/ {"0\r1\r\n0", "01", "0"},
      /*10*/ {"0\x81\r\n0", "0", "0"},
      /*11*/ {"0あ\r\n0", "0", "0"},            // every byte of a multi-byte character is dropped
      /*12*/ {"1\r\n0\r\n1\r\nxyz", "1", "0"},  // lines past the second have no place
                                                /*13*/
      {std::string("1\r\n0\0"
                   "1",
                   6),
       "1", "0"},  // a zero byte ends the text
  };
  for (size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    SettingsLines lines;
    ParseSettingsText(cases[row].bytes, lines);
    EXPECT_EQ(lines.auto_run, cases[row].line0);
    EXPECT_EQ(lines.show_messages, cases[row].line1);
  }
}

TEST(ParseSettingsTextTest, TenThousandCharactersAreNotParsed) {
  SettingsLines parsed;
  ParseSettingsText("0\n0" + std::string(kSettingsTextLimit - 4, ' '), parsed);
  EXPECT_EQ(parsed.auto_run, "0");
  SettingsLines refused;
  ParseSettingsText("0\n0" + std::string(kSettingsTextLimit - 3, ' '), refused);
  EXPECT_EQ(refused.auto_run, "");
  EXPECT_EQ(refused.show_messages, "");
}

TEST(SettingsFileBytesTest, FourBytesWithoutFinalLineEnd) {
  EXPECT_EQ(SettingsFileBytes(true, true), "1\r\n1");
  EXPECT_EQ(SettingsFileBytes(true, false), "1\r\n0");
  EXPECT_EQ(SettingsFileBytes(false, false), "0\r\n0");
  EXPECT_TRUE(IsOff("0"));
  EXPECT_FALSE(IsOff(""));
  EXPECT_FALSE(IsOff(" 0"));
}

}  // namespace
}  // namespace quorvane
