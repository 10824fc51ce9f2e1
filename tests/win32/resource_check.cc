// Holds the resources compiled into Quorvane.exe to the data every front end builds from: the two
// dialog templates of ui/dialog_templates.cc in both languages of ui/texts.cc (styles, ids,
// classes, texts, rectangles, fonts), the
// version record, the manifest and the icon group. Runs under Wine: resource_check Quorvane.exe
#include "storage/windows_api.h"

#include <cstring>
#include <string>
#include <vector>

#include "storage/wide_text.h"
#include "tests/win32/check.h"
#include "ui/dialog_templates.h"
#include "ui/texts.h"
#include "version.h"

namespace quorvane::win32_test {
namespace {

using win32::ToUtf8;
using win32::ToWide;

// A resource's bytes, or an empty view when it is missing.
struct Bytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

Bytes FindBytes(HMODULE module, int id, int type) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(type));
  if (found == nullptr) return {};
  HGLOBAL loaded = ::LoadResource(module, found);
  return {static_cast<const uint8_t*>(::LockResource(loaded)), ::SizeofResource(module, found)};
}

// Reads a DLGTEMPLATEEX front to back; a read past the end yields zeros and marks it broken.
class TemplateReader {
 public:
  explicit TemplateReader(Bytes bytes) : bytes_(bytes) {}

  bool broken() const { return broken_; }
  uint16_t Word() { return static_cast<uint16_t>(Take(2)); }
  uint32_t Dword() { return static_cast<uint32_t>(Take(4)); }
  uint8_t Byte() { return static_cast<uint8_t>(Take(1)); }
  int16_t Short() { return static_cast<int16_t>(Word()); }
  void AlignToDword() { offset_ = (offset_ + 3) & ~size_t{3}; }
  void Skip(size_t count) { offset_ += count; }

  std::string String() {
    std::wstring text;
    while (uint16_t c = Word()) text.push_back(static_cast<wchar_t>(c));
    return ToUtf8(text);
  }
  // A name that may be an ordinal: "#n" for ordinal n, "" for none.
  std::string StringOrOrdinal() {
    const uint16_t first = Word();
    if (first == 0x0000) return "";
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    offset_ -= 2;
    return String();
  }

 private:
  uint64_t Take(size_t count) {
    if (offset_ + count > bytes_.size) {
      broken_ = true;
      offset_ += count;
      return 0;
    }
    uint64_t value = 0;
    std::memcpy(&value, bytes_.data + offset_, count);
    offset_ += count;
    return value;
  }

  Bytes bytes_;
  size_t offset_ = 0;
  bool broken_ = false;
};

// The predefined classes that a template names by ordinal.
std::string ClassName(const std::string& name) {
  static const struct {
    const char* ordinal;
    const char* name;
  } kPredefined[] = {{"#128", "BUTTON"},  {"#129", "EDIT"},      {"#130", "STATIC"},
                     {"#131", "LISTBOX"}, {"#132", "SCROLLBAR"}, {"#133", "COMBOBOX"}};
  for (const auto& entry : kPredefined) {
    if (name == entry.ordinal) return entry.name;
  }
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

// The framework's MfcLink control is a SysLink here, which marks its caption up as the link.
std::string ExpectedClass(const ControlTemplate& control) {
  return ClassName(std::strcmp(control.class_name, "MfcLink") == 0 ? "SysLink"
                                                                   : control.class_name);
}
std::string ExpectedText(const ControlTemplate& control, Language language) {
  if (std::strcmp(control.class_name, "MfcLink") == 0) {
    return "<a>" + Text(control.text, language) + "</a>";
  }
  return Text(control.text, language);
}

// Each dialog is there in both languages, under the language ids the program asks for.
void CheckDialog(HMODULE module, const DialogTemplate& expected, Language language) {
  const bool japanese = language == Language::kJapanese;
  const std::string dialog =
      "dialog " + std::to_string(expected.id) + (japanese ? " (Japanese)" : " (English)");
  HRSRC found = ::FindResourceExW(module, MAKEINTRESOURCEW(5), MAKEINTRESOURCEW(expected.id),
                                  japanese ? MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)
                                           : MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  Bytes bytes;
  if (found != nullptr) {
    bytes = {static_cast<const uint8_t*>(::LockResource(::LoadResource(module, found))),
             ::SizeofResource(module, found)};
  }
  Expect(dialog, "is in the executable", bytes.data != nullptr);
  if (bytes.data == nullptr) return;

  TemplateReader reader(bytes);
  ExpectEq(dialog, "dlgVer", reader.Word(), 1);
  ExpectEq(dialog, "signature", reader.Word(), 0xFFFF);
  ExpectEq(dialog, "helpID", reader.Dword(), 0u);
  ExpectEq(dialog, "extended style", reader.Dword(), expected.ex_style);
  const uint32_t style = reader.Dword();
  ExpectEq(dialog, "style", style, expected.style);
  const uint16_t count = reader.Word();
  ExpectEq(dialog, "control count", count, expected.controls.size());
  ExpectEq(dialog, "x", reader.Short(), 0);
  ExpectEq(dialog, "y", reader.Short(), 0);
  ExpectEq(dialog, "width", reader.Short(), expected.width);
  ExpectEq(dialog, "height", reader.Short(), expected.height);
  ExpectEq(dialog, "menu", reader.StringOrOrdinal(), "");
  ExpectEq(dialog, "window class", reader.StringOrOrdinal(), "");
  ExpectEq(dialog, "caption", reader.String(), Text(expected.caption, language));
  Expect(dialog, "has the font-in-template style", (style & 0x40) != 0);
  ExpectEq(dialog, "font size", reader.Word(), expected.font.point_size);
  ExpectEq(dialog, "font weight", reader.Word(), expected.font.weight);
  ExpectEq(dialog, "font italic", reader.Byte() != 0, expected.font.italic);
  ExpectEq(dialog, "font character set", reader.Byte(), expected.font.charset);
  ExpectEq(dialog, "font face", reader.String(), expected.font.face);

  for (size_t i = 0; i < count && i < expected.controls.size(); ++i) {
    const ControlTemplate& control = expected.controls[i];
    const std::string row = dialog + " control #" + std::to_string(i + 1);
    reader.AlignToDword();
    ExpectEq(row, "helpID", reader.Dword(), 0u);
    ExpectEq(row, "extended style", reader.Dword(), 0u);
    ExpectEq(row, "style", reader.Dword(), control.style);
    ExpectEq(row, "x", reader.Short(), control.rect.x);
    ExpectEq(row, "y", reader.Short(), control.rect.y);
    ExpectEq(row, "width", reader.Short(), control.rect.width);
    ExpectEq(row, "height", reader.Short(), control.rect.height);
    // Static texts hold the id with all bits set.
    ExpectEq(row, "id", reader.Dword(), static_cast<uint32_t>(control.id));
    ExpectEq(row, "class", ClassName(reader.StringOrOrdinal()), ExpectedClass(control));
    ExpectEq(row, "text", reader.StringOrOrdinal(), ExpectedText(control, language));
    const uint16_t extra = reader.Word();
    ExpectEq(row, "creation data size", extra, 0);
    reader.Skip(extra);
  }
  Expect(dialog, "ends where its data ends", !reader.broken());
}

std::string VersionString(const std::vector<uint8_t>& info, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring key = L"\\StringFileInfo\\041104b0\\" + ToWide(name);
  if (!::VerQueryValueW(info.data(), key.c_str(), &value, &length) || length == 0) return "<none>";
  return ToUtf8(static_cast<const wchar_t*>(value));
}

void CheckVersion(const std::wstring& path) {
  const std::string where = "version record";
  DWORD ignored = 0;
  std::vector<uint8_t> info(::GetFileVersionInfoSizeW(path.c_str(), &ignored));
  const bool loaded =
      !info.empty() &&
      ::GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), info.data());
  Expect(where, "is in the executable", loaded);
  if (!loaded) return;

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  Expect(where, "has a fixed part",
         ::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) &&
             length >= sizeof(VS_FIXEDFILEINFO));
  if (fixed != nullptr) {
    constexpr uint32_t kVersionHigh = (QUORVANE_VERSION_MAJOR << 16) | QUORVANE_VERSION_MINOR;
    constexpr uint32_t kVersionLow = (QUORVANE_VERSION_PATCH << 16) | QUORVANE_VERSION_TWEAK;
    ExpectEq(where, "file version (high)", fixed->dwFileVersionMS, kVersionHigh);
    ExpectEq(where, "file version (low)", fixed->dwFileVersionLS, kVersionLow);
    ExpectEq(where, "product version (high)", fixed->dwProductVersionMS, kVersionHigh);
    ExpectEq(where, "product version (low)", fixed->dwProductVersionLS, kVersionLow);
    ExpectEq(where, "file type", fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    ExpectEq(where, "operating system", fixed->dwFileOS, 0x40004ul);
  }

  WORD* translation = nullptr;
  Expect(where, "has one translation",
         ::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                          reinterpret_cast<void**>(&translation), &length) &&
             length == 4);
  if (translation != nullptr && length >= 4) {
    ExpectEq(where, "translation language", translation[0], 0x0411);
    ExpectEq(where, "translation code page", translation[1], 1200);
  }

  static const struct {
    const char* name;
    const char* value;  // nullptr: any text naming the maker
  } kStrings[] = {
      {"FileDescription", "Quorvane"},   {"ProductName", "Quorvane"},
      {"InternalName", "Quorvane.exe"},  {"OriginalFilename", "Quorvane.exe"},
      {"FileVersion", QUORVANE_VERSION}, {"ProductVersion", QUORVANE_VERSION},
      {"CompanyName", nullptr},          {"LegalCopyright", nullptr},
  };
  for (const auto& entry : kStrings) {
    const std::string value = VersionString(info, entry.name);
    if (entry.value != nullptr) {
      ExpectEq(where, entry.name, value, entry.value);
    } else {
      Expect(where, std::string(entry.name) + " names the maker: " + value,
             value.find("Brenvale") != std::string::npos);
    }
  }
}

BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// Blanks made single spaces: attributes may be wrapped onto a new line.
std::string Flattened(const Bytes& bytes) {
  std::string flat;
  for (size_t i = 0; i < bytes.size; ++i) {
    const char c = static_cast<char>(bytes.data[i]);
    const bool blank = c == ' ' || c == '\n' || c == '\r' || c == '\t';
    if (blank && !flat.empty() && flat.back() == ' ') continue;
    flat.push_back(blank ? ' ' : c);
  }
  return flat;
}

void CheckManifest(HMODULE module) {
  int count = 0;
  ::EnumResourceNamesW(module, MAKEINTRESOURCEW(24), &CountName,
                       reinterpret_cast<LONG_PTR>(&count));
  ExpectEq("manifest", "manifest resources", count, 2);
  // The process manifest (1) holds what must hold from the start; the common controls are in
  // the one the program activates when it shows a window, under an id the loader does not read
  // itself, so that no automatic run waits for the system to look them up.
  static const struct {
    int id;
    std::vector<const char*> holds;
    std::vector<const char*> lacks;
  } kManifests[] = {
      {1,
       {"<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
        "<dpiAware "
        "xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true</dpiAware>"},
       {"Microsoft.Windows.Common-Controls"}},
      {QUORVANE_CONTROLS_MANIFEST,
       {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
        "processorArchitecture=\"amd64\" publicKeyToken=\"6595b64144ccf1df\""},
       {}},
  };
  for (const auto& manifest : kManifests) {
    const std::string where = "manifest " + std::to_string(manifest.id);
    const std::string flat = Flattened(FindBytes(module, manifest.id, 24));  // RT_MANIFEST
    for (const char* text : manifest.holds) {
      Expect(where, std::string("holds ") + text, flat.find(text) != std::string::npos);
    }
    for (const char* text : manifest.lacks) {
      Expect(where, std::string("lacks ") + text, flat.find(text) == std::string::npos);
    }
  }
}

void CheckIcons(HMODULE module) {
  const std::string where = "icon group " + std::to_string(kIconGroupId);
  const Bytes group = FindBytes(module, kIconGroupId, 14);  // RT_GROUP_ICON
  Expect(where, "is in the executable", group.data != nullptr);
  if (group.data == nullptr) return;
  static const struct {
    int size;
    int bits;
  } kImages[] = {{48, 4}, {32, 4},   {24, 4},  {16, 4},  {48, 8},  {32, 8}, {24, 8},
                 {16, 8}, {256, 32}, {48, 32}, {32, 32}, {24, 32}, {16, 32}};
  TemplateReader reader(group);
  reader.Skip(4);
  const uint16_t count = reader.Word();
  ExpectEq(where, "image count", count, std::size(kImages));
  for (size_t i = 0; i < count && i < std::size(kImages); ++i) {
    const std::string row = where + " image #" + std::to_string(i + 1);
    const int width = reader.Byte();
    const int height = reader.Byte();
    reader.Skip(2);  // colour count, reserved
    reader.Word();   // planes
    const int bits = reader.Word();
    reader.Dword();  // bytes in resource
    const int id = reader.Word();
    ExpectEq(row, "width", width == 0 ? 256 : width, kImages[i].size);
    ExpectEq(row, "height", height == 0 ? 256 : height, kImages[i].size);
    ExpectEq(row, "bits per pixel", bits, kImages[i].bits);
    // The image itself: a PNG, or a bitmap whose header must agree with the directory.
    const Bytes image = FindBytes(module, id, 3);  // RT_ICON
    Expect(row, "image is in the executable", image.size >= 16);
    if (image.size < 16) continue;
    if (std::memcmp(image.data, "\x89PNG", 4) == 0) {
      ExpectEq(row, "PNG width", static_cast<int>(image.data[18] << 8 | image.data[19]),
               kImages[i].size);
      continue;
    }
    BITMAPINFOHEADER header;
    std::memcpy(&header, image.data, sizeof header);
    ExpectEq(row, "bitmap width", static_cast<int>(header.biWidth), kImages[i].size);
    ExpectEq(row, "bitmap bits per pixel", static_cast<int>(header.biBitCount), kImages[i].bits);
  }
}

}  // namespace
}  // namespace quorvane::win32_test

int wmain(int argc, wchar_t** argv) {
  using namespace quorvane;
  if (argc != 2) {
    std::fprintf(stderr, "usage: resource_check Quorvane.exe\n");
    return 2;
  }
  HMODULE module =
      ::LoadLibraryExW(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  if (module == nullptr) {
    std::fprintf(stderr, "resource_check: cannot load %ls\n", argv[1]);
    return 2;
  }
  for (Language language : {Language::kJapanese, Language::kEnglish}) {
    win32_test::CheckDialog(module, MainDialogTemplate(), language);
    win32_test::CheckDialog(module, VersionDialogTemplate(), language);
  }
  win32_test::CheckVersion(argv[1]);
  win32_test::CheckManifest(module);
  win32_test::CheckIcons(module);
  ::FreeLibrary(module);
  return win32_test::Finish("resource_check");
}
