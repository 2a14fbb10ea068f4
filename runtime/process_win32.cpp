// Win32 back end of the process service: GetModuleFileNameA for the own
// path, AllocConsole with a control handler, ExitProcess for the end.
#include "runtime/process.h"

#include <windows.h>

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
  char path[kOwnPathCapacity];
  DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  // A length that fills the buffer means the path was cut.
  if (length == 0 || length >= sizeof path) return Text();
  return Text(path, static_cast<int>(length));
}

int OpenConsoleWindow(ConsoleCloseProcedure onClose) {
  gConsoleCloseProcedure = onClose;
  if (!AllocConsole()) return 0;
  SetConsoleCtrlHandler(ConsoleControlHandler, TRUE);
  return 1;
}

void EndProcess(int32_t exitCode) { ExitProcess(static_cast<UINT>(exitCode)); }
