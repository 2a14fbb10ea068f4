// Threads, and what they share: locks and counting semaphores. The runtime
// keeps a list of the threads it started, under one lock; finished threads
// are dropped from it at the next StartThread. Locks and semaphores belong
// to whoever made them.
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

// The processors this program may run on, at least 1.
int32_t ProcessorCount();

// A lock: between TakeLock and ReleaseLock one thread at a time. Not
// re-entrant: a thread that holds the lock must not take it again.
// MakeLock returns its handle, or 0 when the system has none to give.
// DisposeLock frees it; no thread may hold or wait for it then. Handle 0
// does nothing in all four.
intptr_t MakeLock();
void TakeLock(intptr_t lock);
void ReleaseLock(intptr_t lock);
void DisposeLock(intptr_t lock);

// A counting semaphore starting at count (0 or more). WaitForSemaphore takes
// one from it, waiting up to timeoutMs milliseconds (-1: for ever, 0: not
// at all) while it is 0; 1 when it took one, 0 when the time ran out (or
// for handle 0). PostSemaphore adds one, waking one waiter. MakeSemaphore
// returns the handle, or 0; DisposeSemaphore frees it once no thread waits.
intptr_t MakeSemaphore(int32_t count);
int WaitForSemaphore(intptr_t semaphore, int32_t timeoutMs);
void PostSemaphore(intptr_t semaphore);
void DisposeSemaphore(intptr_t semaphore);

#endif
