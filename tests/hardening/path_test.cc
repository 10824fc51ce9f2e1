// The real executable over Documents folders that are not plain: named in Japanese, with spaces,
// near the longest path the system takes, or with a file or a dangling link where a data folder
// belongs. Each ends with a clear exit status, never a crash or a hang.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/dialog_harness.h"
#include "tests/support/drop_home.h"
#include "ui/dialog_templates.h"
#include "ui/outcome_messages.h"

namespace quorvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kInput = "101\r\n11\r\n";
constexpr const char* kResult = "5\r\n3\r\n";

enum class Afterwards {
  kConverted,     // the new result written and the input gone
  kLeft,          // the input and the old result as they were
  kNoDropFolder,  // something else stands where the drop folder would; it and the result stay
  kNoTree,        // there is no folder tree to hold either
};

struct PathRow {
  const char* name;
  const char* documents;  // relative to HOME: where the data folders are looked for
  // Run after the drop folder, the input and a user-dirs.dirs are in place.
  std::function<void(const DropHome&)> setup;
  const char* user_dirs;  // XDG_DOCUMENTS_DIR line in $HOME/.config/user-dirs.dirs; null: none
  RunOutcome outcome;
  Afterwards afterwards;
};

void ReplaceWithFile(const std::string& path) {
  fs::remove_all(path);
  WriteFile(path, "not a folder");
}

void ReplaceWithDanglingLink(const std::string& path) {
  fs::remove_all(path);
  fs::create_symlink(path + ".nowhere", path);
}

const PathRow kPathRows[] = {
    /* 0*/ {"Japanese Documents folder from user-dirs.dirs", "ドキュメント", nullptr,
            "XDG_DOCUMENTS_DIR=\"$HOME/ドキュメント\"", RunOutcome::kOk, Afterwards::kConverted},
    /* 1*/
    {"spaces in the Documents folder", "My Documents/two  spaces", nullptr,
     "XDG_DOCUMENTS_DIR=\"$HOME/My Documents/two  spaces\"", RunOutcome::kOk,
     Afterwards::kConverted},
    /* 2*/
    {"no user-dirs.dirs entry", "Documents", nullptr, "XDG_DESKTOP_DIR=\"$HOME/Desk\"",
     RunOutcome::kOk, Afterwards::kConverted},
    /* 3*/
    {"a relative entry is not used", "Documents", nullptr, "XDG_DOCUMENTS_DIR=\"ドキュメント\"",
     RunOutcome::kOk, Afterwards::kConverted},
    /* 4*/
    {"trailing slashes on the entry", "文書 フォルダ", nullptr,
     "XDG_DOCUMENTS_DIR=\"$HOME/文書 フォルダ//\"", RunOutcome::kOk, Afterwards::kConverted},
    /* 5*/
    {"AutoFile is a file", "Documents",
     [](const DropHome& home) { ReplaceWithFile(home.folders().auto_file); }, nullptr,
     RunOutcome::kNoDialog, Afterwards::kNoDropFolder},
    /* 6*/
    {"AutoFile is a dangling link", "Documents",
     [](const DropHome& home) { ReplaceWithDanglingLink(home.folders().auto_file); }, nullptr,
     RunOutcome::kNoDialog, Afterwards::kNoDropFolder},
    /* 7*/
    {"AutoFile is a link to a folder elsewhere", "Documents",
     [](const DropHome& home) {
       const std::string elsewhere = home.home() + "/elsewhere";
       fs::rename(home.folders().auto_file, elsewhere);
       fs::create_directory_symlink(elsewhere, home.folders().auto_file);
     },
     nullptr, RunOutcome::kOk, Afterwards::kConverted},
    /* 8*/
    {"Result is a file", "Documents",
     [](const DropHome& home) { ReplaceWithFile(home.folders().result); }, nullptr,
     RunOutcome::kResultNotWritten, Afterwards::kLeft},
    /* 9*/
    {"Result is a dangling link", "Documents",
     [](const DropHome& home) { ReplaceWithDanglingLink(home.folders().result); }, nullptr,
     RunOutcome::kResultNotWritten, Afterwards::kLeft},
    /*10*/
    {"Decyield.tbin is a dangling link", "Documents",
     [](const DropHome& home) { ReplaceWithDanglingLink(home.folders().ResultFile()); }, nullptr,
     RunOutcome::kOk, Afterwards::kConverted},
    /*11*/
    {"temp is a file: no lock can be taken, the run goes on", "Documents",
     [](const DropHome& home) { ReplaceWithFile(home.folders().temp); }, nullptr, RunOutcome::kOk,
     Afterwards::kConverted},
    /*12*/
    {"Documents is a file", "Documents",
     [](const DropHome& home) { ReplaceWithFile(home.folders().documents); }, nullptr,
     RunOutcome::kNoDialog, Afterwards::kNoTree},
};

TEST(PathTest, EachUnusualFolderGivesAClearOutcome) {
  for (size_t row = 0; row < std::size(kPathRows); ++row) {
    const PathRow& r = kPathRows[row];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + r.name);
    DropHome home(r.documents);
    if (r.user_dirs != nullptr) {
      WriteFile(home.home() + "/.config/user-dirs.dirs",
                std::string("# written by xdg-user-dirs-update\n") + r.user_dirs + "\n");
    }
    home.MakeDropFolder();
    home.DropInput(kInput);
    home.WriteResult("9\r\n");
    if (r.setup) r.setup(home);
    const bool had_result = home.Result().has_value();

    Ending ending = RunQuorvane(home.Environment(), home.ErrorLog());
    ASSERT_FALSE(ending.hung);
    ASSERT_TRUE(ending.exited) << "signal " << ending.signal << "\n" << home.ReadErrorLog();
    EXPECT_EQ(ending.code, ExitStatus(r.outcome)) << home.ReadErrorLog();
    EXPECT_FALSE(home.PendingResultExists());
    switch (r.afterwards) {
      case Afterwards::kConverted:
        EXPECT_EQ(home.Result(), kResult);
        EXPECT_FALSE(home.InputExists());
        break;
      case Afterwards::kLeft:
        EXPECT_EQ(home.Result(), had_result ? std::optional<std::string>("9\r\n") : std::nullopt);
        EXPECT_EQ(ReadFile(home.folders().InputFile()), kInput);
        break;
      case Afterwards::kNoDropFolder: {
        EXPECT_EQ(home.Result(), "9\r\n");
        const fs::file_status drop = fs::symlink_status(home.folders().auto_file);
        EXPECT_TRUE(fs::is_regular_file(drop) || fs::is_symlink(drop));
        if (fs::is_regular_file(drop)) {
          EXPECT_EQ(ReadFile(home.folders().auto_file), "not a folder");
        }
        break;
      }
      case Afterwards::kNoTree:
        EXPECT_TRUE(fs::is_regular_file(home.folders().documents));
        break;
    }
  }
}

TEST(PathTest, HomeAndConfigFoldersWithSpacesAndJapaneseNames) {
  TempFolder root;
  const std::string home = root / "ホーム フォルダ";
  const std::string config = root / "設定 dir";
  const std::string documents = root / "共有 ドキュメント";
  WriteFile(config + "/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + documents + "\"\n");
  fs::create_directories(home);
  const FolderTree folders(documents);
  WriteFile(folders.InputFile(), kInput);

  // XDG_CONFIG_HOME names where user-dirs.dirs is; the entry there is an absolute path.
  Ending ending = RunQuorvane(HeadlessEnvironment(home, {"XDG_CONFIG_HOME=" + config}));
  ASSERT_TRUE(ending.exited);
  EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kOk));
  EXPECT_EQ(ReadFile(folders.ResultFile()), kResult);
  EXPECT_FALSE(fs::exists(folders.InputFile()));

  // Without it, HOME's own Documents folder is used.
  const FolderTree at_home(home + "/Documents");
  WriteFile(at_home.InputFile(), "1");
  ending = RunQuorvane(HeadlessEnvironment(home));
  EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kOk));
  EXPECT_EQ(ReadFile(at_home.ResultFile()), "1\r\n");
  EXPECT_EQ(ReadFile(folders.ResultFile()), kResult);

  // A relative HOME would name another folder from every working folder: --where and every start
  // refuse it alike, say why, and make nothing where the program happens to be started.
  const std::string relative = "quorvane-relative-home-" + std::to_string(::getpid());
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"--where"}, {"--batch"}, {}}) {
    SCOPED_TRACE(arguments.empty() ? "no option" : arguments[0]);
    const std::string error_log = root / "stderr.txt";
    const pid_t pid = Spawn(
        {QuorvaneExecutable(), arguments, HeadlessEnvironment(relative), "/dev/null", error_log});
    ASSERT_GT(pid, 0);
    ending = WaitFor(pid);
    EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kNoDocumentsFolder));
    EXPECT_NE(ReadFile(error_log).find("HOME=" + relative), std::string::npos)
        << ReadFile(error_log);
    EXPECT_FALSE(fs::exists(relative));
  }
}

// A named pipe that nobody writes to: opening it to read waits for a writer, for ever.
TEST(PathTest, AFifoInPlaceOfTheInputOrSettingsFileNeverHangsTheRun) {
  DropHome home;
  home.MakeDropFolder();
  ASSERT_EQ(::mkfifo(home.folders().InputFile().c_str(), 0666), 0);
  Ending ending = RunQuorvane(home.Environment(), home.ErrorLog());
  ASSERT_FALSE(ending.hung);
  EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kInputEmpty));
  EXPECT_TRUE(fs::is_fifo(home.folders().InputFile()));

  // The settings file is read at every start, before the input file is looked at.
  fs::remove(home.folders().InputFile());
  home.DropInput("11");
  fs::create_directories(home.folders().temp);
  ASSERT_EQ(::mkfifo(home.folders().SettingsFile().c_str(), 0666), 0);
  ending = RunQuorvane(home.Environment(), home.ErrorLog());
  ASSERT_FALSE(ending.hung) << "reading the settings file waited for a writer";
  EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kOk));
  EXPECT_EQ(home.Result(), "3\r\n");
  EXPECT_TRUE(fs::is_fifo(home.folders().SettingsFile()));

  // The same with a writer that holds the pipes open and never writes: the settings file, and
  // user-dirs.dirs, which is read to find the Documents folder at all.
  const std::string user_dirs = home.home() + "/.config/user-dirs.dirs";
  fs::create_directories(home.home() + "/.config");
  ASSERT_EQ(::mkfifo(user_dirs.c_str(), 0666), 0);
  const int settings_writer = ::open(home.folders().SettingsFile().c_str(), O_RDWR);
  const int dirs_writer = ::open(user_dirs.c_str(), O_RDWR);
  home.DropInput("10");
  ending = RunQuorvane(home.Environment(), home.ErrorLog());
  ::close(settings_writer);
  ::close(dirs_writer);
  ASSERT_FALSE(ending.hung) << "a pipe held open by its writer was waited on";
  EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kOk));
  EXPECT_EQ(home.Result(), "2\r\n");
}

TEST(PathTest, AFifoInPlaceOfTheTemporaryResultFileNeverHangsTheRun) {
  DropHome home;
  home.MakeDropFolder();
  home.DropInput("11");
  fs::create_directories(home.folders().result);
  ASSERT_EQ(::mkfifo((home.folders().ResultFile() + ".partial").c_str(), 0666), 0);
  Ending ending = RunQuorvane(home.Environment());
  ASSERT_FALSE(ending.hung) << "writing the temporary result waited for a reader";
  // Whatever stands under the temporary name is cleared away first, the pipe included.
  EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kOk));
  EXPECT_FALSE(fs::exists(home.folders().InputFile()));
  EXPECT_EQ(home.Result(), std::optional<std::string>("3\r\n"));
}

TEST(PathTest, AFifoInPlaceOfTheSettingsFileNeverHangsTheExitButton) {
  DialogHarness harness;
  fs::create_directories(harness.folders().temp);
  const std::string fifo = harness.folders().SettingsFile();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  harness.Open();
  // Should the exit button wait for a reader, one comes after a while, so that the test fails
  // instead of hanging.
  std::atomic<bool> done = false, rescued = false;
  std::thread rescuer([&] {
    for (int i = 0; i < 500 && !done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done) return;
    rescued = true;
    int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::close(fd);
  });
  harness.dialog().OnCommand(kIdExit, Notification::kClicked);
  done = true;
  rescuer.join();
  EXPECT_FALSE(rescued) << "the exit button waited for a reader of the settings file";
  EXPECT_EQ(harness.dialog().end_result(), kResultOk);
}

// A hostile local user plants links where Quorvane writes, deletes or locks; a run (as root, in
// the test) changes nothing outside the tree through them, and none of it blocks a later run.
TEST(PathTest, PlantedLinksAndLeftoversNeitherRedirectNorBlockARun) {
  DropHome home;
  home.MakeDropFolder();
  fs::create_directories(home.folders().result);
  fs::create_directories(home.folders().temp);
  const std::string outside = home.home() + "/outside";
  fs::create_directories(outside);
  const std::string precious = outside + "/precious";
  const std::string input_elsewhere = outside + "/input";
  WriteFile(precious, "precious");
  WriteFile(input_elsewhere, "101\r\n");
  ::chmod(input_elsewhere.c_str(), 0444);
  const std::string result = home.folders().ResultFile();
  fs::create_hard_link(precious, result);
  fs::create_symlink(precious, result + ".partial");
  fs::create_directory(result + ".folder.partial");
  WriteFile(result + ".stuck1.partial", "9");
  ::chmod((result + ".stuck1.partial").c_str(), 0444);
  fs::create_symlink(input_elsewhere, home.folders().InputFile());
  fs::create_symlink(outside + "/made-through-the-lock", home.folders().temp + "/Quorvane.lock");

  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    Ending ending = RunQuorvane(home.Environment(), home.ErrorLog());
    ASSERT_TRUE(ending.exited);
    EXPECT_EQ(ending.code, ExitStatus(RunOutcome::kOk)) << home.ReadErrorLog();
    EXPECT_EQ(home.Result(), run == 0 ? "5\r\n" : "3\r\n");
    EXPECT_FALSE(fs::is_symlink(result));
    EXPECT_FALSE(fs::exists(fs::symlink_status(home.folders().InputFile())));
    home.DropInput("11\r\n");
  }
  EXPECT_EQ(ReadFile(precious), "precious");
  EXPECT_EQ(ReadFile(input_elsewhere), "101\r\n");
  struct stat st;
  ASSERT_EQ(::stat(input_elsewhere.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u) << "the mode of the input link's target was changed";
  EXPECT_FALSE(fs::exists(outside + "/made-through-the-lock"));
  EXPECT_TRUE(fs::is_directory(result + ".folder.partial"));
}

// Under umask 0222 every file and folder a run makes would be read-only; the next run must still
// replace the result.
TEST(PathTest, AnUmaskWithoutWriteRightsDoesNotBlockTheNextRun) {
  DropHome home;
  home.MakeDropFolder();
  const mode_t previous = ::umask(0222);
  std::vector<int> codes;
  for (const char* input : {"1\r\n", "10\r\n"}) {
    home.DropInput(input);
    codes.push_back(RunQuorvane(home.Environment(), home.ErrorLog()).code);
  }
  ::umask(previous);
  EXPECT_EQ(codes, std::vector<int>(2, ExitStatus(RunOutcome::kOk))) << home.ReadErrorLog();
  EXPECT_EQ(home.Result(), "2\r\n");
  struct stat st;
  ASSERT_EQ(::stat(home.folders().ResultFile().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0600, 0600u);
  ASSERT_EQ(::stat(home.folders().result.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0700, 0700u);
}

// Paths longer than PATH_MAX cannot be named whole, so the tree is made and read one folder at a
// time, each step relative to the folder before.
class DeepPath {
 public:
  // Opens (creating the folders) every component of `path` but the last; -1 on failure.
  static int OpenParent(const std::string& path, bool create, std::string& leaf) {
    int dir = ::open("/", O_RDONLY | O_DIRECTORY);
    size_t start = 1;
    while (true) {
      size_t slash = path.find('/', start);
      if (slash == std::string::npos) {
        leaf = path.substr(start);
        return dir;
      }
      const std::string part = path.substr(start, slash - start);
      start = slash + 1;
      if (part.empty()) continue;
      if (create) ::mkdirat(dir, part.c_str(), 0777);
      int next = ::openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY);
      ::close(dir);
      if (next < 0) return -1;
      dir = next;
    }
  }
  static void MakeFolders(const std::string& path) {
    std::string leaf;
    int dir = OpenParent(path + "/", true, leaf);
    if (dir >= 0) ::close(dir);
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::string leaf;
    int dir = OpenParent(path, true, leaf);
    ASSERT_GE(dir, 0);
    int fd = ::openat(dir, leaf.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::close(dir);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  }
  static std::optional<std::string> Read(const std::string& path) {
    std::string leaf;
    int dir = OpenParent(path, false, leaf);
    if (dir < 0) return std::nullopt;
    int fd = ::openat(dir, leaf.c_str(), O_RDONLY);
    ::close(dir);
    if (fd < 0) return std::nullopt;
    std::string bytes(4096, '\0');
    ssize_t got = ::read(fd, bytes.data(), bytes.size());
    ::close(fd);
    bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
    return bytes;
  }
  // The names in a folder.
  static std::vector<std::string> Names(const std::string& path) {
    std::string leaf;
    std::vector<std::string> names;
    int parent = OpenParent(path, false, leaf);
    if (parent < 0) return names;
    int dir = ::openat(parent, leaf.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(parent);
    if (dir < 0) return names;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd/" + std::to_string(dir))) {
      names.push_back(entry.path().filename());
    }
    ::close(dir);
    return names;
  }
  // Removes everything below `dir` (an open folder), relative step by relative step.
  static void Clear(int dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd/" + std::to_string(dir))) {
      names.push_back(entry.path().filename());
    }
    for (const std::string& name : names) {
      int child = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
      if (child >= 0) {
        Clear(child);
        ::close(child);
        ::unlinkat(dir, name.c_str(), AT_REMOVEDIR);
      } else {
        ::unlinkat(dir, name.c_str(), 0);
      }
    }
  }
};

// A Documents folder whose path is exactly `length` bytes long, made of folders of at most 200
// bytes below `home`.
std::string DocumentsOfLength(const std::string& home, size_t length) {
  std::string path = home;
  while (path.size() < length) {
    size_t room = length - path.size() - 1;                  // after the separator
    if (room > 200) room = room - 200 < 2 ? room - 2 : 200;  // never leave a last part of 0 bytes
    path += "/" + std::string(room, 'd');
  }
  return path;
}

struct LongPathRow {
  const char* name;
  const char* longest;  // the file whose path is made exactly PATH_MAX - 1 + over bytes long
  size_t over;          // 0: it just fits
  RunOutcome outcome;
  bool converted;
};

const LongPathRow kLongPathRows[] = {
    /* 0*/ {"every path fits", "Brenvale/MFCQuorvane/Result/Decyield.tbin.xxxxxx.partial", 0,
            RunOutcome::kOk, true},
    /* 1*/
    {"the temporary result file is one byte too long",
     "Brenvale/MFCQuorvane/Result/Decyield.tbin.xxxxxx.partial", 1, RunOutcome::kResultNotWritten,
     false},
    /* 2*/
    {"the input file is one byte too long", "Brenvale/MFCQuorvane/AutoFile/Bintake.tbin", 1,
     RunOutcome::kInputMissing, false},
    /* 3*/
    {"the AutoFile folder is one byte too long", "Brenvale/MFCQuorvane/AutoFile", 1,
     RunOutcome::kNoDialog, false},
};

TEST(PathTest, PathsNearTheSystemLimitGiveAClearOutcome) {
  for (size_t row = 0; row < std::size(kLongPathRows); ++row) {
    const LongPathRow& r = kLongPathRows[row];
    SCOPED_TRACE("row " + std::to_string(row) + ": " + r.name);
    TempFolder home;
    const size_t suffix = std::string("/").size() + std::string(r.longest).size();
    const std::string documents =
        DocumentsOfLength(home.path().string(), PATH_MAX - 1 + r.over - suffix);
    const FolderTree folders(documents);
    ASSERT_EQ(documents.size() + suffix, PATH_MAX - 1 + r.over);
    WriteFile(home / ".config/user-dirs.dirs",
              "XDG_DOCUMENTS_DIR=\"$HOME" + documents.substr(home.path().string().size()) + "\"\n");
    DeepPath::MakeFolders(folders.auto_file);
    DeepPath::MakeFolders(folders.result);
    DeepPath::Write(folders.InputFile(), kInput);

    const std::string error_log = home / "stderr.txt";
    Ending ending = RunQuorvane(HeadlessEnvironment(home.path().string()), error_log);
    ASSERT_FALSE(ending.hung);
    ASSERT_TRUE(ending.exited) << "signal " << ending.signal << "\n" << ReadFile(error_log);
    EXPECT_EQ(ending.code, ExitStatus(r.outcome)) << ReadFile(error_log);
    if (r.converted) {
      EXPECT_EQ(DeepPath::Read(folders.ResultFile()), kResult);
      EXPECT_EQ(DeepPath::Read(folders.InputFile()), std::nullopt);
    } else {
      EXPECT_EQ(DeepPath::Read(folders.ResultFile()), std::nullopt);
      EXPECT_EQ(DeepPath::Read(folders.InputFile()), kInput);
    }
    const std::vector<std::string> left = DeepPath::Names(folders.result);
    EXPECT_TRUE(left.empty() || left == std::vector<std::string>{"Decyield.tbin"})
        << "a temporary result file was left";

    int dir = ::open(home.path().c_str(), O_RDONLY | O_DIRECTORY);
    DeepPath::Clear(dir);
    ::close(dir);
  }
}

}  // namespace
}  // namespace quorvane::testing
