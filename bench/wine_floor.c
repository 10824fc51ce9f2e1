/* The floor of the Wine comparison: the least a Windows program can do for a small automatic run
 * and still put its result safely in place. It reads the input whole, converts each line (LF ends
 * a line, CR is ignored, empty lines are skipped) into decimal lines ended by CR LF, writes them
 * to a new temporary file beside the result, flushes it to the disk, renames it over the result
 * and deletes the input. KERNEL32 and the C runtime only; no lock, no checks beyond a line's
 * length: what Quorvane.exe /batch does beyond this is its start-up and its guarantees.
 *
 * Built with -DWITH_JOURNAL (and -ladvapi32) it also does what every automatic run of Quorvane
 * must do besides: it reads where the Documents folder is from the registry and reports one
 * event to the Application log, which loads ADVAPI32 and what it needs.
 *
 * Usage: wine_floor INPUT RESULT
 * Exit status: 0 done, 1 a line of more than 31 digits, 2 usage or I/O error. */
#include <windows.h>

#include "plain_convert.h"

enum { kMaxInput = 65536 };

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  static char text[kMaxInput];
  static char result[PLAIN_CONVERT_BOUND(kMaxInput)];
  HANDLE in = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (in == INVALID_HANDLE_VALUE) return 2;
  DWORD size = 0;
  const BOOL read = ReadFile(in, text, sizeof text, &size, NULL);
  CloseHandle(in);
  if (!read) return 2;

  const size_t length = plain_convert((const unsigned char*)text, size, result);
  if (length == (size_t)-1) return 1;

  wchar_t temporary[MAX_PATH + 8];
  if (lstrlenW(argv[2]) > MAX_PATH) return 2;
  lstrcpyW(temporary, argv[2]);
  lstrcatW(temporary, L".tmp");
  HANDLE dest = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
  if (dest == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  BOOL ok = WriteFile(dest, result, (DWORD)length, &written, NULL) && written == length &&
            FlushFileBuffers(dest);
  ok = CloseHandle(dest) && ok;
  ok = ok && MoveFileExW(temporary, argv[2], MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  ok = ok && DeleteFileW(argv[1]);
#ifdef WITH_JOURNAL
  HKEY folders;
  if (RegOpenKeyExW(HKEY_CURRENT_USER,
                    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
                    0, KEY_READ, &folders) == ERROR_SUCCESS) {
    wchar_t documents[MAX_PATH];
    DWORD bytes = sizeof documents;
    RegQueryValueExW(folders, L"Personal", NULL, NULL, (BYTE*)documents, &bytes);
    RegCloseKey(folders);
  }
  HANDLE log = RegisterEventSourceW(NULL, L"Quorvane");
  if (log != NULL) {
    const wchar_t* text = ok ? L"done" : L"failed";
    ReportEventW(log, ok ? EVENTLOG_INFORMATION_TYPE : EVENTLOG_ERROR_TYPE, 0, 1, NULL, 1, 0, &text,
                 NULL);
    DeregisterEventSource(log);
  }
#endif
  return ok ? 0 : 2;
}
