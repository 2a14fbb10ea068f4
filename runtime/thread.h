// Threads. The runtime keeps a list of the threads it started, under one
// lock; finished threads are dropped from it at the next StartThread.
#ifndef VEZOVUD_RUNTIME_THREAD_H
#define VEZOVUD_RUNTIME_THREAD_H

#include <stdint.h>

typedef int32_t (*ThreadProcedure)(int32_t parameter);

// Starts procedure(parameter) on a new thread. Returns its handle, or 0.
intptr_t StartThread(ThreadProcedure procedure, int32_t parameter);

// Ends the thread, drops it from the list and closes its handle. A handle
// not in the list does nothing. On Win32 this is TerminateThread: the thread
// ends wherever it stands, and a lock or heap it held stays taken. On POSIX
// it is pthread_cancel: the thread ends at its next cancellation point
// (sleeping, waiting, blocking input or output), not inside a computation
// that reaches none; it leaves the list at once and frees its own resources
// when it ends.
void StopThread(intptr_t thread);

// Waits up to timeoutMs milliseconds (-1: for ever) for the thread to end.
// Nonzero when it has ended. Handles not in the list count as ended.
int WaitForThread(intptr_t thread, int32_t timeoutMs);

// The number of threads in the list: started, and not yet dropped as
// finished or stopped. For tests that check the list stays bounded.
int StartedThreadCount();

#endif
