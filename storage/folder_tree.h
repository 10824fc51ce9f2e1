#pragma once

#include <string>
#include <string_view>

namespace quorvane {

// The folders and files Quorvane keeps under the user's Documents folder. Every path is the
// Documents path followed by a fixed suffix.
struct FolderTree {
  explicit FolderTree(std::string documents_path);

  std::string documents;
  std::string maker;      // Documents/Brenvale
  std::string data_root;  // Documents/Brenvale/MFCQuorvane
  std::string result;     // .../Result
  std::string temp;       // .../temp
  std::string auto_file;  // .../AutoFile: its mere existence switches on automatic processing

  std::string SettingsFile() const;  // temp/Quorvane.tmp
  std::string InputFile() const;     // AutoFile/Bintake.tbin
  std::string ResultFile() const;    // Result/Decyield.tbin
};

// The user's Documents folder as one look-up found it, or why there is none to use.
struct DocumentsLookup {
  enum class Problem {
    kNone,             // `path` is the Documents folder
    kNoHome,           // no home folder at all (Linux), or the system named none (Windows)
    kHomeNotAbsolute,  // HOME is set to a relative path: `refused` holds it
    kNotAbsolute,      // the folder named is not an absolute path: `refused` holds it
  };
  std::string path;  // absolute; empty unless `problem` is kNone
  Problem problem = Problem::kNone;
  std::string refused;
};

// The user's Documents folder, asked of the system afresh on every call: on Linux the XDG
// documents directory, else $HOME/Documents; on Windows the Documents known folder. A relative
// path is never used: it would name a different folder from every working folder, so --where and
// a run started elsewhere would disagree. No folder tree may be made anywhere when there is none.
DocumentsLookup LookUpDocumentsFolder();
// The same, as a path; empty when there is none.
std::string QueryDocumentsFolder();

// Whether `path` names the same place from every working folder: "/..." on Linux; "X:\..." or
// "\\server\..." on Windows.
bool IsAbsolutePath(std::string_view path);

}  // namespace quorvane
