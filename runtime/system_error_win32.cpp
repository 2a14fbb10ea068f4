// Win32 back end of the failure reasons: GetLastError and FormatMessageA.
#include "runtime/system_error.h"

#include <windows.h>

namespace {

const DWORD kReasonCapacity = 256;

}  // namespace

int32_t LastSystemError() { return static_cast<int32_t>(GetLastError()); }

Text SystemErrorText(int32_t code) {
  if (code == 0) return Text();
  char buffer[kReasonCapacity];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, buffer, kReasonCapacity, nullptr);
  // The system's texts end in a full stop and a line break.
  while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                        buffer[length - 1] == ' ' || buffer[length - 1] == '.')) {
    --length;
  }
  if (length == 0) return Text("error ") + DecimalText(code);
  return Text(buffer, static_cast<int>(length));
}

int IsOutOfOpenFiles(int32_t code) { return code == ERROR_TOO_MANY_OPEN_FILES ? 1 : 0; }
