// A lean start for a program that needs nothing of the C runtime's own
// start-up: no command line, no stdio set-up, no exit-time handlers. The
// program defines ProgramMain instead of main; the process entry runs the
// static constructors (there should be none that need a destructor: no
// handler would run it, and the link then fails on atexit) and ends the
// process with ProgramMain's result. The C library itself (malloc, stdio)
// is ready without it, as the DLL sets itself up when it loads.
//
// Only the stub starts this way (Windows: runtime/program_entry_win32.cpp,
// linked with -nostartfiles and this entry); other programs keep main.
#ifndef VEZOVUD_RUNTIME_PROGRAM_ENTRY_H
#define VEZOVUD_RUNTIME_PROGRAM_ENTRY_H

// Defined by the program: its whole run. The result is the exit code.
int ProgramMain();

#endif
