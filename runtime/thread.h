// Threads. The runtime keeps a list of the threads it started, under one
// lock; finished threads are dropped from it at the next StartThread.
#ifndef VEZOVUD_RUNTIME_THREAD_H
#define VEZOVUD_RUNTIME_THREAD_H

#include <stdint.h>

typedef int32_t (*ThreadProcedure)(int32_t parameter);

// Starts procedure(parameter) on a new thread. Returns its handle, or 0.
intptr_t StartThread(ThreadProcedure procedure, int32_t parameter);

// Ends the thread wherever it stands, drops it from the list and closes its
// handle. A handle not in the list does nothing.
void StopThread(intptr_t thread);

// Waits up to timeoutMs milliseconds (-1: for ever) for the thread to end.
// Nonzero when it has ended. Handles not in the list count as ended.
int WaitForThread(intptr_t thread, int32_t timeoutMs);

#endif
