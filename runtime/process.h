// The running process: its own executable's path, the console window the
// stub opens beside its window, and the end of the process.
#ifndef VEZOVUD_RUNTIME_PROCESS_H
#define VEZOVUD_RUNTIME_PROCESS_H

#include <stdint.h>

#include "runtime/text.h"

// POSIX: characters the own path may take, terminating zero included.
const int kOwnPathCapacity = 512;

// The full path of the running executable as the system reports it, whole:
// the empty text when it cannot be had (a cut path would name another
// file). Windows: as an extended path in UTF-8 ("\\?\C:\...",
// "\\?\UNC\server\..."), which the file service opens with the wide calls,
// so that a folder name outside the ANSI code page and a path of any length
// up to kExtendedPathCapacity still name the file. POSIX: at most
// kOwnPathCapacity characters.
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

typedef void (*InterruptProcedure)();

// The exit code after an interrupt by signal: 128 plus its number, as shells
// report a program that a signal ended (130 for SIGINT, 143 for SIGTERM).
const int32_t kInterruptExitBase = 128;

// From now on an interrupt (POSIX: SIGINT, SIGTERM, SIGHUP; Windows: Ctrl+C,
// Ctrl+Break, the console's close) calls procedure, then ends the process
// with kInterruptExitBase plus the signal's number (Windows: SIGINT's 2 for
// Ctrl+C and Ctrl+Break, SIGHUP's 1 for the close). procedure runs inside a
// signal handler, on whatever thread the signal met: it may only remove
// files and folders whose names it has ready, and must not take locks or
// allocate. A second interrupt while it runs waits for it. A null procedure
// brings back the system's default handling. 1 on success, 0 when the
// handlers could not be installed.
int CatchInterrupts(InterruptProcedure procedure);

// With hold 1, an interrupt that meets the calling thread waits until the
// same thread calls again with 0; then it is handled as ever. For the few
// steps between creating something and noting its name for the interrupt
// procedure, which must not be cut in two. POSIX: the signals are blocked
// for the calling thread only, so it is meant for a time when no other
// thread runs; Windows: the handler, which runs on a thread of its own,
// waits.
void HoldInterrupts(int hold);

// Lets the process have as many files open as the system allows it: a walk
// holds one folder for each level it is down. POSIX: the soft limit on open
// files raised to the hard one; Windows: no such limit to raise. 1 on
// success, 0 when the limit could not be raised.
int RaiseOpenFileLimit();

#endif
