#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

// Every text a person reads, in Japanese (the program's own language, byte for byte as its users
// and their documents know it) and in English, chosen by the user's language. Dialog templates,
// message boxes, the progress label, --help and the lines on standard error all take their words
// from here; file contents, file names and exit statuses never depend on the language.
namespace quorvane {

enum class Language { kJapanese, kEnglish };

enum class TextId : int {
  kNone,  // the empty text: an edit or a progress bar
  // The main dialog.
  kMainCaption,
  kExitButton,
  kVersionButton,
  kConvertButton,
  kInputLabel,
  kAutoRunBox,
  kShowMessagesBox,
  kPromotion1,
  kPromotion2,
  kPromotion3,
  kPromotion4,
  kPromotion5,
  kSiteLink,
  kShopLink,
  kFullPathLabel,
  kOutputName,     // what a screen reader calls the result field
  kProgressName,   // ... and the progress text and bar
  kProgressLabel,  // {1}: the whole percentage
  // The version dialog.
  kVersionCaption,
  kOkButton,
  kVersionLine,
  kAuthorLine,
  kToolLine,
  kReportLine,
  kThanksLine,
  kCopyrightLine,
  kWarrantyLine,
  // Message boxes.
  kNotBinary,
  kAutoFileCreated,
  kAutoFileNotCreated,
  kAutoFileKept,
  kAutoFileNotRemoved,
  kInputMissing,
  kInputEmpty,
  kInputUnreadable,
  kInputNotBinary,
  kInputTooLarge,
  kLineTooLong,
  kResultNotWritten,
  kInputNotDeleted,
  kInputChanged,
  kNoDocumentsFolder,
  kCompleted,
  // A line after the message of an automatic run that ended so, and in its line on standard error.
  kInputLeftUnder,    // {1}: the private name the input is kept under
  kResultNotDurable,  // the new result stands, but its folder could not be put on the disk
  kCause,             // {1}: the step (below); {2}: the path; {3}: why
  kStepStatus,
  kStepOpen,
  kStepRead,
  kStepCreate,
  kStepWrite,
  kStepFlush,
  kStepClose,
  kStepRename,
  kStepSyncFolder,
  kStepDelete,
  kStepList,
  kStepLock,
  kStepMakeFolder,
  kStepRemoveFolder,
  kHeldForWriting,
  kChangedWhileRead,
  kNotAPlainFile,
  kMarkedReadOnly,
  // The record of an automatic run in the system's log.
  kRunRecord,  // {1}: how it was started; {2}: the status; {3}: its meaning; {4}: the input's
               // bytes; {5}: its lines; {6}: milliseconds
  kPlainStart,
  kDropFolderAt,  // {1}: the AutoFile folder's full path
  kNoDropFolder,  // {1}: the AutoFile folder's full path
  kAtLine,        // {1}: the number of the line that refused the file
  // The command line: --help, --version and its lines on standard error.
  kUsage,
  kVersionOutput,
  kHelpHintPosix,
  kHelpHintWindows,
  kUnrecognizedOption,  // {1}: the option
  kOneModeOnly,
  kDialogWithBatch,
  kIgnoredArguments,  // {1}: the arguments, quoted; {2}: the command that converts them
  kNoDocumentsForWhere,
  kPathsNotWritten,
  kArgumentNotBinary,  // {1}: the argument
  kArgumentTooLong,    // {1}: the argument
  kOutputNotWritten,
  kInputNotRedirected,
  kInputNotRead,
  kLineNotBinary,        // {1}: the line number
  kLineTooLongInStream,  // {1}: the line number
  kBusyLine,
  kStatusSuffix,  // {1}: the status
  kOutOfMemory,
  kIgnoredArgumentsOnly,  // {1}: the arguments, quoted
  kMoreArguments,         // {1}: how many more were ignored
  kHomeNotAbsolute,       // {1}: HOME
  kDocumentsNotAbsolute,  // {1}: the folder
  kPathHasLineBreak,      // {1}: the folder, its line breaks written as \r and \n
  // Why the dialog cannot be shown (Linux).
  kQtMissing,     // {1}: the loader's reason; {2}: the packages
  kNotAFrontEnd,  // {1}: the file
  kFrontEndNotFound,
  kNoDisplayOpened,
  kNoDisplaySet,
  kDocumentsNotFound,     // {1}: the folder; {2}: HOME
  kDialogNeedsFrontEnd,   // {1}: why
  kNoMessageBox,          // {1}: why
  kPlatformShowsNothing,  // {1}: the platform
  kPlatformNotInstalled,  // {1}: the platform
  kInstallWayland,
  kInstallXcb,
  kNoDisplayAt,          // {1}: DISPLAY
  kNoWaylandCompositor,  // {1}: WAYLAND_DISPLAY
  kCount
};

struct CatalogueEntry {
  TextId id;
  const char* japanese;  // UTF-8; {name} and {1}, {2} are filled in when used
  const char* english;
};

// The catalogue as written, in TextId order.
std::span<const CatalogueEntry> Catalogue();

// The language every text below is in; Japanese until set.
Language CurrentLanguage();
void SetLanguage(Language language);

// The language gettext would choose on Linux: the locale is LC_ALL, else LC_MESSAGES, else LANG
// (an empty variable counts as unset); LANGUAGE, a list of languages, is consulted first only
// when that locale is set and is not C or POSIX. Japanese ("ja...") gives Japanese, no language
// at all gives Japanese too, the program's own; any other gives English, which a reader of
// neither is likelier to read. `get` reads an environment variable (nullptr when unset).
Language LanguageOfEnvironment(const char* (*get)(const char* name));

// The language for a Windows user interface language (a LANGID): Japanese for Japanese, else
// English.
Language LanguageOfWindowsUiLanguage(uint16_t language_id);

// A text with the limits and the version filled in: valid for the life of the program.
const std::string& Text(TextId id);
const std::string& Text(TextId id, Language language);

// A text with {1}, {2}... replaced by `arguments` in turn.
std::string Format(TextId id, std::initializer_list<std::string_view> arguments);
std::string Format(TextId id, Language language, std::initializer_list<std::string_view> arguments);

// The progress label for a whole percentage, "進捗率　N %".
std::string ProgressLabel(int percent);

// `text` on one line, for standard error and the system's log: each line break (LF, or CR LF)
// becomes a space.
std::string OneLine(std::string_view text);

}  // namespace quorvane
