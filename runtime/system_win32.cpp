// Win32 back end of the clock:
// GetTickCount and Sleep.
#include <windows.h>

#include "runtime/system.h"

uint32_t TickCount() { return GetTickCount(); }

void PauseMilliseconds(int32_t ms) {
  // Sleep takes -1 as INFINITE; a negative pause must not hang the program.
  if (ms <= 0) return;
  Sleep(static_cast<DWORD>(ms));
}
