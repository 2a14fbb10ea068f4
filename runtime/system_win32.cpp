// Win32 back end of the runtime's start-up and exit and of the clock:
// GetTickCount and Sleep.
#include <windows.h>

#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/memory.h"
#include "runtime/system.h"

void InitRuntime() { CreateBlockHeap(); }

void EndRuntime() {
  CloseAllFiles();
  CloseAllListings();
  DestroyBlockHeap();
}

uint32_t TickCount() { return GetTickCount(); }

void PauseMilliseconds(int32_t ms) {
  // Sleep takes -1 as INFINITE; a negative pause must not hang the program.
  if (ms <= 0) return;
  Sleep(static_cast<DWORD>(ms));
}
