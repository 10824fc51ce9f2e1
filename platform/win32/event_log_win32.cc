#include "platform/win32/event_log_win32.h"

#include "storage/windows_api.h"
#include "storage/wide_text.h"

namespace quorvane::win32 {
namespace {

// The one message of Quorvane.exe's message table (resources/win32/events.mc): "%1", the
// record's own text.
constexpr DWORD kRunRecordMessage = 1;

WORD EventType(RecordSeverity severity) {
  switch (severity) {
    case RecordSeverity::kInfo:
      return EVENTLOG_INFORMATION_TYPE;
    case RecordSeverity::kNotice:
      return EVENTLOG_WARNING_TYPE;
    case RecordSeverity::kError:
      return EVENTLOG_ERROR_TYPE;
  }
  return EVENTLOG_ERROR_TYPE;
}

}  // namespace

void Win32EventLog::Record(RecordSeverity severity, int status, std::string_view text) {
  HANDLE source = ::RegisterEventSourceW(nullptr, L"Quorvane");
  if (source == nullptr) return;
  const std::wstring wide = ToWide(text);
  const wchar_t* strings[] = {wide.c_str()};
  // The status is the event's category, so that Event Viewer can filter by it.
  ::ReportEventW(source, EventType(severity), static_cast<WORD>(status), kRunRecordMessage,
                 nullptr, 1, 0, strings, nullptr);
  ::DeregisterEventSource(source);
}

}  // namespace quorvane::win32
