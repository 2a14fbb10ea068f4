// The list of started threads that both thread back ends keep under their
// lock: growing it, finding an entry by handle, dropping entries. Each back
// end's entry holds its own platform data next to a `handle` field, so the
// list is a template over the entry. Every call needs the lock held.
#ifndef VEZOVUD_RUNTIME_THREAD_LIST_H
#define VEZOVUD_RUNTIME_THREAD_LIST_H

#include <stdlib.h>

#include "runtime/thread.h"

const int kFirstThreadListEntries = 8;

// What a new thread needs: its procedure and parameter, and the handle the
// back end gives it (where the thread itself must know it).
struct ThreadStart {
  ThreadProcedure procedure;
  int32_t parameter;
  intptr_t handle;
};

// A start record from the heap (free it with free), or null for no
// procedure or when memory is short.
inline ThreadStart* NewThreadStart(ThreadProcedure procedure, int32_t parameter) {
  if (procedure == nullptr) return nullptr;
  ThreadStart* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
  if (start == nullptr) return nullptr;
  start->procedure = procedure;
  start->parameter = parameter;
  start->handle = 0;
  return start;
}

template <typename Entry>
struct ThreadList {
  Entry* entries;
  int count;
  int capacity;
};

// Makes room for one more entry. False when memory is short.
template <typename Entry>
bool GrowThreadList(ThreadList<Entry>* list) {
  if (list->count < list->capacity) return true;
  int capacity = list->capacity == 0 ? kFirstThreadListEntries : list->capacity * 2;
  void* grown = realloc(list->entries, sizeof(Entry) * static_cast<size_t>(capacity));
  if (grown == nullptr) return false;
  list->entries = static_cast<Entry*>(grown);
  list->capacity = capacity;
  return true;
}

// Index of the entry whose handle is handle, or -1.
template <typename Entry, typename Handle>
int FindThreadEntry(const ThreadList<Entry>& list, Handle handle) {
  for (int k = 0; k < list.count; k++) {
    if (list.entries[k].handle == handle) return k;
  }
  return -1;
}

// Releases entry k (release(entry)) and fills its place with the last one.
template <typename Entry, typename Release>
void DropThreadEntry(ThreadList<Entry>* list, int k, Release release) {
  release(list->entries[k]);
  list->entries[k] = list->entries[list->count - 1];
  list->count--;
}

// Drops every entry whose thread has ended (ended(entry) true).
template <typename Entry, typename Ended, typename Release>
void DropEndedThreads(ThreadList<Entry>* list, Ended ended, Release release) {
  int k = 0;
  while (k < list->count) {
    if (ended(list->entries[k])) {
      DropThreadEntry(list, k, release);
    } else {
      k++;
    }
  }
}

#endif
