// Win32 back end of the clock and the error texts:
// GetTickCount and Sleep; GetLastError and FormatMessageA.
#include <windows.h>

#include "runtime/system.h"

namespace {
const DWORD kErrorTextBytes = 256;
}  // namespace

uint32_t TickCount() { return GetTickCount(); }

void PauseMilliseconds(int32_t ms) {
  // Sleep takes -1 as INFINITE; a negative pause must not hang the program.
  if (ms <= 0) return;
  Sleep(static_cast<DWORD>(ms));
}

int32_t LastSystemError() { return static_cast<int32_t>(GetLastError()); }

Text SystemErrorText(int32_t code) {
  if (code == 0) return Text();
  char buffer[kErrorTextBytes];
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(code), 0, buffer, kErrorTextBytes, nullptr);
  // The system's texts end in a full stop and a line break.
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return Text("error ") + DecimalText(code);
  return Text(buffer, static_cast<int>(length));
}

int IsOutOfOpenFiles(int32_t code) { return code == ERROR_TOO_MANY_OPEN_FILES ? 1 : 0; }

int IsDiskFull(int32_t code) {
  // ERROR_DISK_QUOTA_EXCEEDED, which older headers lack.
  const int32_t kDiskQuotaExceeded = 1295;
  return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == kDiskQuotaExceeded
             ? 1
             : 0;
}
