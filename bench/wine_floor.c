/* The floor of the Wine comparison: the least a Windows program can do for a small automatic run
 * and still put its result safely in place. It reads the input whole, converts each line (LF ends
 * a line, CR is ignored, empty lines are skipped) into decimal lines ended by CR LF, writes them
 * to a new temporary file beside the result, flushes it to the disk, renames it over the result
 * and deletes the input. KERNEL32 and the C runtime only; no lock, no checks beyond a line's
 * length: what Quorvane.exe /batch does beyond this is its start-up and its guarantees.
 *
 * Usage: wine_floor INPUT RESULT
 * Exit status: 0 done, 1 a line of more than 31 digits, 2 usage or I/O error. */
#include <windows.h>

enum { kMaxDigits = 31, kMaxInput = 65536 };

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  static char text[kMaxInput];
  static char result[kMaxInput / 2 * 12 + 12];
  HANDLE in = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  if (in == INVALID_HANDLE_VALUE) return 2;
  DWORD size = 0;
  const BOOL read = ReadFile(in, text, sizeof text, &size, NULL);
  CloseHandle(in);
  if (!read) return 2;

  char* out = result;
  unsigned long value = 0;
  int digits = 0;
  for (DWORD i = 0; i <= size; ++i) {
    const char c = i < size ? text[i] : '\n';
    if (c == '0' || c == '1') {
      value = value * 2 + (unsigned long)(c - '0');
      ++digits;
    } else if (c == '\n' && digits > 0) {
      if (digits > kMaxDigits) return 1;
      char reversed[10];
      int count = 0;
      do {
        reversed[count++] = (char)('0' + value % 10);
        value /= 10;
      } while (value != 0);
      while (count > 0) *out++ = reversed[--count];
      *out++ = '\r';
      *out++ = '\n';
      value = 0;
      digits = 0;
    }
  }

  wchar_t temporary[MAX_PATH + 8];
  if (lstrlenW(argv[2]) > MAX_PATH) return 2;
  lstrcpyW(temporary, argv[2]);
  lstrcatW(temporary, L".tmp");
  HANDLE dest = CreateFileW(temporary, GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
  if (dest == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const DWORD length = (DWORD)(out - result);
  BOOL ok = WriteFile(dest, result, length, &written, NULL) && written == length &&
            FlushFileBuffers(dest);
  ok = CloseHandle(dest) && ok;
  ok = ok && MoveFileExW(temporary, argv[2], MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  ok = ok && DeleteFileW(argv[1]);
  return ok ? 0 : 2;
}
