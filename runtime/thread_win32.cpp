// Threads on Win32: CreateThread with a small committed stack, and the list
// of started threads (handle and id) under one critical section. Finished
// threads leave the list, and their handles are closed, at the next start.
// Locks are critical sections and semaphores Win32 semaphores, as on XP.
#include <windows.h>
#include <stdlib.h>

#include "runtime/thread.h"
#include "runtime/thread_list.h"

namespace {

// Committed at the start; the reservation stays the executable's default.
const SIZE_T kThreadStackCommitBytes = 4096;
const LONG kSemaphoreMaximum = 0x7FFFFFFF;  // the largest count a semaphore may reach

// CreateThread hands the new thread one pointer, its start record. The list
// owns that record and frees it with the entry, so the thread itself never
// touches the heap: TerminateThread cannot catch it inside one.
struct ThreadEntry {
  HANDLE handle;
  DWORD id;
  ThreadStart* start;
};

// 0: not set up, 1: being set up, 2: ready. The lock is set up on first use
// so the thread services work before and without the runtime's start-up.
volatile LONG gLockState = 0;
CRITICAL_SECTION gLock;
ThreadList<ThreadEntry> gThreads = {nullptr, 0, 0};

void Lock() {
  if (gLockState != 2) {
    if (InterlockedCompareExchange(&gLockState, 1, 0) == 0) {
      InitializeCriticalSection(&gLock);
      InterlockedExchange(&gLockState, 2);
    } else {
      while (gLockState != 2) Sleep(0);
    }
  }
  EnterCriticalSection(&gLock);
}

void Unlock() { LeaveCriticalSection(&gLock); }

// Closes the handle and frees the start record.
void ReleaseEntry(const ThreadEntry& entry) {
  CloseHandle(entry.handle);
  free(entry.start);
}

bool HasEnded(const ThreadEntry& entry) {
  return WaitForSingleObject(entry.handle, 0) == WAIT_OBJECT_0;
}

DWORD WINAPI ThreadTrampoline(LPVOID raw) {
  const ThreadStart* start = static_cast<const ThreadStart*>(raw);
  return static_cast<DWORD>(start->procedure(start->parameter));
}

}  // namespace

intptr_t StartThread(ThreadProcedure procedure, int32_t parameter) {
  ThreadStart* start = NewThreadStart(procedure, parameter);
  if (start == nullptr) return 0;

  Lock();
  DropEndedThreads(&gThreads, HasEnded, ReleaseEntry);
  HANDLE handle = nullptr;
  DWORD id = 0;
  if (GrowThreadList(&gThreads)) {
    handle = CreateThread(nullptr, kThreadStackCommitBytes, ThreadTrampoline, start, 0, &id);
  }
  if (handle != nullptr) {
    ThreadEntry& entry = gThreads.entries[gThreads.count++];
    entry.handle = handle;
    entry.id = id;
    entry.start = start;
  }
  Unlock();

  if (handle == nullptr) {
    free(start);
    return 0;
  }
  return reinterpret_cast<intptr_t>(handle);
}

void StopThread(intptr_t thread) {
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  Lock();
  int k = FindThreadEntry(gThreads, handle);
  if (k >= 0) {
    // Ended under the lock, so the thread cannot be caught halfway through
    // a change to this list.
    TerminateThread(handle, 0);
    DropThreadEntry(&gThreads, k, ReleaseEntry);
  }
  Unlock();
}

int WaitForThread(intptr_t thread, int32_t timeoutMs) {
  HANDLE handle = reinterpret_cast<HANDLE>(thread);
  HANDLE own = nullptr;
  Lock();
  int k = FindThreadEntry(gThreads, handle);
  // A copy of the handle keeps the wait valid even if another thread drops
  // the entry, and closes the original, meanwhile.
  bool copied = k >= 0 && DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &own,
                                          SYNCHRONIZE, FALSE, 0);
  Unlock();
  if (k < 0) return 1;
  if (!copied) return 0;
  DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  DWORD result = WaitForSingleObject(own, wait);
  CloseHandle(own);
  return result == WAIT_OBJECT_0 ? 1 : 0;
}

int StartedThreadCount() {
  Lock();
  int count = gThreads.count;
  Unlock();
  return count;
}

int32_t ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors < 1 ? 1 : static_cast<int32_t>(info.dwNumberOfProcessors);
}

// A semaphore is a Win32 semaphore, a lock a heap-held critical section whose
// handle is the pointer; both are there since Windows 95 and NT 3.1.
intptr_t MakeSemaphore(int32_t count) {
  if (count < 0) return 0;
  HANDLE semaphore = CreateSemaphoreA(nullptr, count, kSemaphoreMaximum, nullptr);
  return reinterpret_cast<intptr_t>(semaphore);
}

int WaitForSemaphore(intptr_t semaphore, int32_t timeoutMs) {
  if (semaphore == 0) return 0;
  DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return WaitForSingleObject(reinterpret_cast<HANDLE>(semaphore), wait) == WAIT_OBJECT_0;
}

void PostSemaphore(intptr_t semaphore) {
  if (semaphore != 0) ReleaseSemaphore(reinterpret_cast<HANDLE>(semaphore), 1, nullptr);
}

void DisposeSemaphore(intptr_t semaphore) {
  if (semaphore != 0) CloseHandle(reinterpret_cast<HANDLE>(semaphore));
}

intptr_t MakeLock() {
  CRITICAL_SECTION* section = static_cast<CRITICAL_SECTION*>(malloc(sizeof(CRITICAL_SECTION)));
  if (section == nullptr) return 0;
  InitializeCriticalSection(section);
  return reinterpret_cast<intptr_t>(section);
}

void TakeLock(intptr_t lock) {
  if (lock != 0) EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(lock));
}

void ReleaseLock(intptr_t lock) {
  if (lock != 0) LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(lock));
}

void DisposeLock(intptr_t lock) {
  if (lock == 0) return;
  DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(lock));
  free(reinterpret_cast<CRITICAL_SECTION*>(lock));
}
