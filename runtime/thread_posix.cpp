// Threads on POSIX: detached pthreads and the list of started threads under
// one mutex. A thread's handle is a nonzero serial number; each thread marks
// its own entry finished as it ends, and the next StartThread drops such
// entries. Locks are pthread mutexes, semaphores unnamed POSIX semaphores.
//
// StopThread uses pthread_cancel, which is deferred: the thread ends at its
// next cancellation point (sleeping, waiting, blocking reads and writes),
// not in the middle of a computation that calls none. The list operations
// disable cancellation while they hold the mutex, so a stopped thread never
// leaves the list locked.
#include <errno.h>
#include <pthread.h>
#include <semaphore.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "runtime/thread.h"
#include "runtime/thread_list.h"

namespace {

const int64_t kNanosecondsPerSecond = 1000000000;
const int64_t kNanosecondsPerMillisecond = 1000000;

struct ThreadEntry {
  intptr_t handle;
  pthread_t thread;
  int finished;
};

pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
// Signalled whenever a thread marks itself finished. Set up once, to time
// its waits on the monotonic clock.
pthread_cond_t gFinished;
pthread_once_t gFinishedOnce = PTHREAD_ONCE_INIT;
ThreadList<ThreadEntry> gThreads = {nullptr, 0, 0};
intptr_t gLastHandle = 0;

void SetUpFinished() {
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&gFinished, &attributes);
  pthread_condattr_destroy(&attributes);
}

// Takes the list lock with cancellation off; returns the state to restore.
int Lock() {
  int oldState = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  pthread_once(&gFinishedOnce, SetUpFinished);
  pthread_mutex_lock(&gLock);
  return oldState;
}

void Unlock(int oldState) {
  pthread_mutex_unlock(&gLock);
  int ignored = 0;
  pthread_setcancelstate(oldState, &ignored);
}

// The thread is detached, so it frees its own resources.
void ReleaseNothing(const ThreadEntry&) {}
bool HasFinished(const ThreadEntry& entry) { return entry.finished != 0; }

// Runs as the thread ends, by return or by cancellation.
void MarkFinished(void* raw) {
  intptr_t handle = reinterpret_cast<intptr_t>(raw);
  int state = Lock();
  int k = FindThreadEntry(gThreads, handle);
  if (k >= 0) gThreads.entries[k].finished = 1;
  pthread_cond_broadcast(&gFinished);
  Unlock(state);
}

void* ThreadTrampoline(void* raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  free(raw);
  pthread_cleanup_push(MarkFinished, reinterpret_cast<void*>(start.handle));
  start.procedure(start.parameter);
  pthread_cleanup_pop(1);
  return nullptr;
}

void UnlockOnCancel(void*) { pthread_mutex_unlock(&gLock); }

}  // namespace

intptr_t StartThread(ThreadProcedure procedure, int32_t parameter) {
  ThreadStart* start = NewThreadStart(procedure, parameter);
  if (start == nullptr) return 0;

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);

  int state = Lock();
  DropEndedThreads(&gThreads, HasFinished, ReleaseNothing);
  intptr_t handle = 0;
  if (GrowThreadList(&gThreads)) {
    // Serial numbers skip 0 when they wrap, and any still in the list.
    do {
      gLastHandle = gLastHandle == INTPTR_MAX ? 1 : gLastHandle + 1;
    } while (FindThreadEntry(gThreads, gLastHandle) >= 0);
    start->handle = gLastHandle;
    pthread_t thread;
    // Created under the lock, so the entry is there before the thread can
    // look for it to mark itself finished.
    if (pthread_create(&thread, &attributes, ThreadTrampoline, start) == 0) {
      handle = gLastHandle;
      ThreadEntry& entry = gThreads.entries[gThreads.count++];
      entry.handle = handle;
      entry.thread = thread;
      entry.finished = 0;
    }
  }
  Unlock(state);
  pthread_attr_destroy(&attributes);

  if (handle == 0) free(start);
  return handle;
}

void StopThread(intptr_t thread) {
  int state = Lock();
  int k = FindThreadEntry(gThreads, thread);
  if (k >= 0) {
    // An entry not yet finished belongs to a thread that has not passed
    // MarkFinished, which needs this lock: the thread still exists.
    if (!gThreads.entries[k].finished) pthread_cancel(gThreads.entries[k].thread);
    DropThreadEntry(&gThreads, k, ReleaseNothing);
  }
  Unlock(state);
}

int WaitForThread(intptr_t thread, int32_t timeoutMs) {
  timespec deadline = {0, 0};
  if (timeoutMs >= 0) {
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    int64_t nanoseconds =
        deadline.tv_nsec + static_cast<int64_t>(timeoutMs % 1000) * kNanosecondsPerMillisecond;
    deadline.tv_sec += timeoutMs / 1000 + static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
    deadline.tv_nsec = static_cast<long>(nanoseconds % kNanosecondsPerSecond);
  }
  int ended = 0;
  int oldState = 0;
  // The wait is a cancellation point; the handler gives the lock back.
  pthread_once(&gFinishedOnce, SetUpFinished);
  pthread_mutex_lock(&gLock);
  pthread_cleanup_push(UnlockOnCancel, nullptr);
  for (;;) {
    // The entry may move or leave the list while the lock is released.
    int k = FindThreadEntry(gThreads, thread);
    if (k < 0 || gThreads.entries[k].finished) {
      ended = 1;
      break;
    }
    int result = timeoutMs < 0 ? pthread_cond_wait(&gFinished, &gLock)
                               : pthread_cond_timedwait(&gFinished, &gLock, &deadline);
    if (result == ETIMEDOUT) {
      k = FindThreadEntry(gThreads, thread);
      ended = k < 0 || gThreads.entries[k].finished;
      break;
    }
  }
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &oldState);
  pthread_cleanup_pop(1);
  pthread_setcancelstate(oldState, &oldState);
  return ended;
}

int StartedThreadCount() {
  int state = Lock();
  int count = gThreads.count;
  Unlock(state);
  return count;
}

int32_t ProcessorCount() {
  long count = sysconf(_SC_NPROCESSORS_ONLN);
  return count < 1 ? 1 : static_cast<int32_t>(count);
}

// A lock is a heap-held mutex, a semaphore a heap-held sem_t; the handle is
// the pointer.
intptr_t MakeLock() {
  pthread_mutex_t* mutex = static_cast<pthread_mutex_t*>(malloc(sizeof(pthread_mutex_t)));
  if (mutex == nullptr) return 0;
  if (pthread_mutex_init(mutex, nullptr) != 0) {
    free(mutex);
    return 0;
  }
  return reinterpret_cast<intptr_t>(mutex);
}

void TakeLock(intptr_t lock) {
  if (lock != 0) pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(lock));
}

void ReleaseLock(intptr_t lock) {
  if (lock != 0) pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(lock));
}

void DisposeLock(intptr_t lock) {
  if (lock == 0) return;
  pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(lock));
  free(reinterpret_cast<pthread_mutex_t*>(lock));
}

intptr_t MakeSemaphore(int32_t count) {
  if (count < 0) return 0;
  sem_t* semaphore = static_cast<sem_t*>(malloc(sizeof(sem_t)));
  if (semaphore == nullptr) return 0;
  if (sem_init(semaphore, 0, static_cast<unsigned>(count)) != 0) {
    free(semaphore);
    return 0;
  }
  return reinterpret_cast<intptr_t>(semaphore);
}

int WaitForSemaphore(intptr_t handle, int32_t timeoutMs) {
  if (handle == 0) return 0;
  sem_t* semaphore = reinterpret_cast<sem_t*>(handle);
  int result;
  if (timeoutMs < 0) {
    do {
      result = sem_wait(semaphore);
    } while (result != 0 && errno == EINTR);
    return result == 0;
  }
  if (timeoutMs == 0) {
    do {
      result = sem_trywait(semaphore);
    } while (result != 0 && errno == EINTR);
    return result == 0;
  }
  // sem_timedwait counts on the wall clock; a clock step merely lengthens
  // or shortens this one wait.
  timespec deadline = {0, 0};
  clock_gettime(CLOCK_REALTIME, &deadline);
  int64_t nanoseconds =
      deadline.tv_nsec + static_cast<int64_t>(timeoutMs % 1000) * kNanosecondsPerMillisecond;
  deadline.tv_sec += timeoutMs / 1000 + static_cast<time_t>(nanoseconds / kNanosecondsPerSecond);
  deadline.tv_nsec = static_cast<long>(nanoseconds % kNanosecondsPerSecond);
  do {
    result = sem_timedwait(semaphore, &deadline);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void PostSemaphore(intptr_t semaphore) {
  if (semaphore != 0) sem_post(reinterpret_cast<sem_t*>(semaphore));
}

void DisposeSemaphore(intptr_t semaphore) {
  if (semaphore == 0) return;
  sem_destroy(reinterpret_cast<sem_t*>(semaphore));
  free(reinterpret_cast<sem_t*>(semaphore));
}
