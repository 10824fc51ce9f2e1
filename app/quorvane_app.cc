#include "app/quorvane_app.h"

#include <new>

#include "app/automatic_view.h"
#include "automation/drop_folder_run.h"
#include "storage/file_primitives.h"
#include "storage/folder_tree.h"
#include "ui/quorvane_dlg.h"
#include "ui/texts.h"

namespace quorvane {
std::string ApplicationName(std::string_view executable_path, std::string_view fallback) {
  std::string_view name = executable_path.substr(executable_path.find_last_of("/\\") + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos && dot != 0) name = name.substr(0, dot);
  return std::string(name.empty() ? fallback : name);
}

StartMode StartModeFor(const CommandLine& command_line) {
  if (command_line.action == CommandLine::Action::kBatch) return StartMode::kBatch;
  return command_line.dialog ? StartMode::kDialog : StartMode::kDropFolderDecides;
}

int CQuorvaneApp::Run() {
  try {
    return Start();
  } catch (const std::bad_alloc&) {
    // The input file is deleted only once the result is whole, so a run that ran out of memory
    // has lost nothing; the caller learns it from the status, and from the line.
    ReportOutOfMemory();
    return ExitStatus(RunOutcome::kOutOfMemory);
  }
}

void CQuorvaneApp::ReportOutOfMemory() {
  // The text as it is compiled in: the filled-in catalogue may never have been built, and
  // building it now would need memory.
  const CatalogueEntry& entry = Catalogue()[static_cast<size_t>(TextId::kOutOfMemory)];
  StandardStreams& streams = platform_.Streams(answering_);
  streams.WriteError("quorvane: ");
  streams.WriteError(CurrentLanguage() == Language::kJapanese ? entry.japanese : entry.english);
  streams.WriteError("\n");
}

int CQuorvaneApp::Start() {
  // Every text a person reads follows the user's language; files and statuses never do.
  SetLanguage(platform_.UserLanguage());
  const std::vector<std::string_view> arguments = platform_.Arguments();
  const CommandLine command_line = ParseCommandLine(arguments, platform_.spelling());
  answering_ = command_line.action != CommandLine::Action::kRun &&
               command_line.action != CommandLine::Action::kBatch;
  StandardStreams& streams = platform_.Streams(answering_);
  streams.WriteError(IgnoredArgumentsNote(command_line, platform_.spelling()));
  if (answering_) {
    return AnswerCommandLine(command_line, streams,
                             {platform_.spelling(), platform_.line_end(),
                              [this] { return platform_.LookUpDocumentsFolder(); }});
  }
  // The desktop launcher asks for the dialog; calling programs pass no arguments, or --batch.
  return InitInstance(StartModeFor(command_line));
}

int CQuorvaneApp::NoDocumentsFolder(StartMode start_mode, const DocumentsLookup& lookup) {
  const std::string& text = Text(TextId::kNoDocumentsFolder);
  const std::string cause = DocumentsProblem(lookup);
  if (start_mode == StartMode::kBatch) {
    // A calling program's run shows nothing, and tells it in its one line; the system's log
    // keeps it as it keeps every automatic run.
    const std::string line = OneLine(text) + " " + cause;
    platform_.Streams(false).WriteError(
        "quorvane: " + line +
        Format(TextId::kStatusSuffix,
               {std::to_string(ExitStatus(RunOutcome::kNoDocumentsFolder))}) +
        "\n");
    RunRecord record;
    record.batch = true;
    record.status = ExitStatus(RunOutcome::kNoDocumentsFolder);
    record.milliseconds = platform_.NowMs() - started_ms_;
    Journal(record);
  } else {
    platform_.ReportStartupError(text + "\r\n" + cause);
  }
  return ExitStatus(RunOutcome::kNoDocumentsFolder);
}

int CQuorvaneApp::InitInstance(StartMode start_mode) {
  FileSystem& files = platform_.Files();
  started_ms_ = platform_.NowMs();
  const DocumentsLookup documents = platform_.LookUpDocumentsFolder();
  // Folders made anywhere else (the root of the drive, the working folder) would send every file
  // astray.
  if (documents.problem != DocumentsLookup::Problem::kNone) {
    return NoDocumentsFolder(start_mode, documents);
  }
  // The folders below the maker folder are made one level at a time by the dialog, so the
  // Documents and maker folders have to be there first. Made without asking first: where one is
  // there already, making it fails and changes nothing. A calling program's drop folder is
  // usually in use already, though: two questions find its folders there, where making each
  // level again would take six calls.
  const FolderTree folders(documents.path);
  const bool batch_folders_there = start_mode == StartMode::kBatch &&
                                   DirectoryExists(files, folders.result) &&
                                   DirectoryExists(files, folders.temp);
  if (!batch_folders_there) {
    files.MakeDirectory(folders.documents);
    files.MakeDirectory(folders.maker);
  }

  if (start_mode == StartMode::kBatch) {
    // A calling program's run: the drop folder alone, with no dialog to show anything or wait on
    // a person. Without the AutoFile folder there is no input to convert, and the caller learns
    // which folder it missed.
    if (!batch_folders_there) MakeDataFolders(files, folders);
    RunDetails details;
    if (!DirectoryExists(files, folders.auto_file)) {
      details.missing_drop_folder = folders.auto_file;
      return EndAutomaticRun(start_mode, RunOutcome::kInputMissing, details);
    }
    RunProgress unseen;
    const RunOutcome outcome = RunDropFolder(files, folders, unseen, &details);
    return EndAutomaticRun(start_mode, outcome, details);
  }

  DialogEnvironment environment;
  environment.files = &files;
  environment.documents_folder = [this] { return platform_.LookUpDocumentsFolder().path; };
  environment.executable_path = platform_.ExecutablePath();
  environment.start_mode = start_mode;
  CQuorvaneDlg dialog(std::move(environment));

  if (start_mode == StartMode::kDropFolderDecides && DirectoryExists(files, folders.auto_file)) {
    // The drop folder's run, as the dialog's initialisation makes it, with no window: a message
    // box, where the settings allow one, is the only thing that may be shown.
    AutomaticRunView view(platform_);
    dialog.AttachView(view);
    dialog.OnInitDialog();
    told_on_standard_error_ = view.told_on_standard_error();
    if (view.ended()) return EndAutomaticRun(start_mode, dialog.outcome(), dialog.run_details());
    // The folder went away meanwhile: the start is a person's after all.
  }

  if (!platform_.RunModal(dialog)) return ExitStatus(RunOutcome::kNoDialog);
  // The folder may have appeared meanwhile, and the dialog's initialisation ran the drop folder.
  if (dialog.end_result() == kResultAutomatic) {
    return EndAutomaticRun(start_mode, dialog.outcome(), dialog.run_details());
  }
  return ExitStatus(dialog.outcome());
}

int CQuorvaneApp::EndAutomaticRun(StartMode start_mode, RunOutcome outcome,
                                  const RunDetails& details) {
  const int status = ExitStatus(outcome);
  // A calling program's run tells every status but 0 in one line on standard error; a person who
  // started the drop folder's run at a terminal reads the same there, unless a message said it
  // there already. A caller whose standard error is a file or a pipe hears nothing more.
  if (start_mode == StartMode::kBatch ||
      (platform_.ErrorIsTerminal() && !told_on_standard_error_)) {
    platform_.Streams(false).WriteError(StandardErrorLine(status, details));
  }
  // The administrator's record, silent runs included: it goes to the system's log alone, never
  // to the caller or into the drop folder, and never waits.
  RunRecord record;
  record.batch = start_mode == StartMode::kBatch;
  record.status = status;
  record.details = details;
  record.milliseconds = platform_.NowMs() - started_ms_;
  Journal(record);
  return status;
}

void CQuorvaneApp::Journal(const RunRecord& record) {
  SystemLog& log = platform_.Log();
  if (log.Present()) log.Record(SeverityOf(record.status), record.status, RecordText(record));
}

}  // namespace quorvane
