// Win32 back end of the process service: GetModuleFileNameW for the own
// path, AllocConsole with a control handler, ExitProcess for the end.
#include "runtime/process.h"

#include <windows.h>

#include "runtime/file.h"
#include "runtime/memory.h"
#include "runtime/wide_path_win32.h"

namespace {

// Written once by OpenConsoleWindow before the handler is installed; the
// system calls the handler on a thread of its own.
ConsoleCloseProcedure gConsoleCloseProcedure = nullptr;

BOOL WINAPI ConsoleControlHandler(DWORD event) {
  if (event == CTRL_CLOSE_EVENT && gConsoleCloseProcedure != nullptr) {
    gConsoleCloseProcedure();
  }
  return FALSE;  // the system's default handling ends the process
}

volatile InterruptProcedure gInterruptProcedure = nullptr;
volatile LONG gInterruptsHeld = 0;  // nonzero while HoldInterrupts holds them

const DWORD kHeldInterruptPollMs = 1;

const int32_t kSignalInterrupt = 2;  // SIGINT's number
const int32_t kSignalHangUp = 1;     // SIGHUP's number

BOOL WINAPI InterruptHandler(DWORD event) {
  InterruptProcedure procedure = gInterruptProcedure;
  if (procedure == nullptr) return FALSE;
  while (gInterruptsHeld != 0) Sleep(kHeldInterruptPollMs);
  procedure();
  ExitProcess(static_cast<UINT>(kInterruptExitBase +
                                (event == CTRL_CLOSE_EVENT ? kSignalHangUp : kSignalInterrupt)));
  return TRUE;
}

}  // namespace

int CatchInterrupts(InterruptProcedure procedure) {
  gInterruptProcedure = procedure;
  return SetConsoleCtrlHandler(InterruptHandler, procedure != nullptr ? TRUE : FALSE) ? 1 : 0;
}

void HoldInterrupts(int hold) { InterlockedExchange(&gInterruptsHeld, hold ? 1 : 0); }

int RaiseOpenFileLimit() {  // handles have no such limit
  return 1;
}

Text OwnExecutablePath() {
  // The wide call: the ANSI one gives "?" for every character outside the
  // ANSI code page, and so a path that names no file. The buffer doubles
  // until the path fits (a length that fills it means the path was cut); the
  // path goes kPrefixRoom characters in, leaving room for a prefix.
  const DWORD kPrefixRoom = 8;
  Text path;
  for (DWORD capacity = MAX_PATH; capacity < 2 * kExtendedPathCapacity; capacity *= 2) {
    wchar_t* wide =
        static_cast<wchar_t*>(AllocateBlock((kPrefixRoom + capacity) * sizeof(wchar_t)));
    if (wide == nullptr) break;
    wchar_t* own = wide + kPrefixRoom;
    DWORD length = GetModuleFileNameW(nullptr, own, capacity);
    if (length > 0 && length < capacity) {
      // As an extended path the file service opens it with its wide calls,
      // whatever its characters and length. The system reports a full path:
      // a share's "\\server\..." becomes "\\?\UNC\server\...", "C:\..." gets
      // the prefix, and a path that has it keeps it.
      if (own[0] == L'\\' && own[1] == L'\\' && own[2] != L'?') {
        own -= 6;
        CopyMemory(own, L"\\\\?\\UNC", 7 * sizeof(wchar_t));
      } else if (own[0] != L'\\') {
        own -= 4;
        CopyMemory(own, L"\\\\?\\", 4 * sizeof(wchar_t));
      }
      path = Utf8TextOf(own);
    }
    FreeBlock(wide);
    if (length < capacity) break;  // a failure (0) included
  }
  return path;
}

int OpenConsoleWindow(ConsoleCloseProcedure onClose) {
  gConsoleCloseProcedure = onClose;
  if (!AllocConsole()) return 0;
  SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
  return 1;
}

void EndProcess(int32_t exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }
