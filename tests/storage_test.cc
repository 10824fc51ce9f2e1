#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "storage/settings.h"
#include "tests/support/temp_home.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
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
  EXPECT_EQ(over.bytes, at_limit);

  EXPECT_EQ(ReadWholeFile(Files(), dir / "missing").outcome, FileSystem::ReadOutcome::kCannotOpen);
  EXPECT_EQ(ReadWholeFile(Files(), dir.path().string()).outcome,
            FileSystem::ReadOutcome::kCannotOpen);
}

TEST(FilePrimitivesTest, WriteWholeFileTruncatesAndLeavesReadOnlyFilesAlone) {
  TempFolder dir;
  const std::string path = dir / "settings";
  WriteFile(path, "previous content");
  EXPECT_TRUE(WriteWholeFile(Files(), path, "1\r\n0"));
  EXPECT_EQ(ReadFile(path), "1\r\n0");
  EXPECT_TRUE(WriteWholeFile(Files(), path, ""));
  EXPECT_TRUE(fs::exists(path));
  EXPECT_EQ(fs::file_size(path), 0u);

  WriteFile(path, "kept");
  MarkReadOnly(path);
  EXPECT_FALSE(WriteWholeFile(Files(), path, "0\r\n0"));
  EXPECT_EQ(ReadFile(path), "kept");

  EXPECT_FALSE(WriteWholeFile(Files(), dir / "no/such/folder/file", "x"));
}

TEST(FilePrimitivesTest, ReplaceFileSafelyReplacesWholeOrNotAtAll) {
  TempFolder dir;
  const std::string path = dir / "Decyield.tbin";
  WriteFile(path, "old result\r\n");
  EXPECT_TRUE(ReplaceFileSafely(Files(), path, "5\r\n3\r\n"));
  EXPECT_EQ(ReadFile(path), "5\r\n3\r\n");
  EXPECT_FALSE(fs::exists(PendingPathFor(path)));

  // Read-only result: refused, old content kept.
  MarkReadOnly(path);
  EXPECT_FALSE(ReplaceFileSafely(Files(), path, "1\r\n"));
  EXPECT_EQ(ReadFile(path), "5\r\n3\r\n");

  // A folder in the file's place, and a missing folder.
  fs::create_directory(dir / "folder");
  EXPECT_FALSE(ReplaceFileSafely(Files(), dir / "folder", "1\r\n"));
  EXPECT_TRUE(fs::is_directory(dir / "folder"));
  EXPECT_FALSE(ReplaceFileSafely(Files(), dir / "gone/Decyield.tbin", "1\r\n"));
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

TEST(FilePrimitivesTest, DeleteFileForcedClearsReadOnlyFirst) {
  TempFolder dir;
  WriteFile(dir / "input", "1");
  MarkReadOnly(dir / "input");
  EXPECT_FALSE(Files().DeleteFile(dir / "input"));  // protected as it is
  EXPECT_TRUE(DeleteFileForced(Files(), dir / "input"));
  EXPECT_FALSE(fs::exists(dir / "input"));
  EXPECT_TRUE(DeleteFileForced(Files(), dir / "input"));  // already gone
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
    EXPECT_EQ(ParseSettingsText(cases[row].bytes, lines), SettingsParse::kParsed);
    EXPECT_EQ(lines.auto_run, cases[row].line0);
    EXPECT_EQ(lines.show_messages, cases[row].line1);
  }
}

TEST(ParseSettingsTextTest, TenThousandCharactersAreNotParsed) {
  SettingsLines parsed;
  EXPECT_EQ(ParseSettingsText("0\n0" + std::string(9996, ' '), parsed), SettingsParse::kParsed);
  EXPECT_EQ(parsed.auto_run, "0");
  SettingsLines refused;
  EXPECT_EQ(ParseSettingsText("0\n0" + std::string(9997, ' '), refused), SettingsParse::kTooLong);
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
