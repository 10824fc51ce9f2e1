#pragma once

#include <string>

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

// The user's Documents folder, asked of the system afresh on every call: on Linux the XDG
// documents directory, else $HOME/Documents; on Windows the Documents known folder. Empty when it
// cannot be found; no folder tree may then be made anywhere else in its place.
std::string QueryDocumentsFolder();

}  // namespace quorvane
