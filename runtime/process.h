// The running process: its own executable's path, the console window the
// stub opens beside its window, and the end of the process.
#ifndef VEZOVUD_RUNTIME_PROCESS_H
#define VEZOVUD_RUNTIME_PROCESS_H

#include <stdint.h>

#include "runtime/text.h"

// Characters the own path may take, terminating zero included.
const int kOwnPathCapacity = 512;

// The full path of the running executable as the system reports it; the
// empty text when it cannot be had or does not fit kOwnPathCapacity (a cut
// path would name another file).
Text OwnExecutablePath();

typedef void (*ConsoleCloseProcedure)();

// Gives the process a console window of its own and installs a control
// handler. When the console window is closed the handler calls onClose (when
// not null); for every console event it then lets the system's default
// handling end the process. 1 on success, 0 when no console could be made.
// Without consoles (POSIX) it does nothing and returns 0.
int OpenConsoleWindow(ConsoleCloseProcedure onClose);

// Ends the process at once with exitCode, from any thread. Never returns.
void EndProcess(int32_t exitCode);

#endif
