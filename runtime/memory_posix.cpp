// POSIX back end of memory blocks: the C library's heap, which is already
// safe for every thread, stands in for the private heap.
#include <stdint.h>
#include <stdlib.h>

#include "runtime/memory.h"

void* AllocateBlock(int64_t size) {
  if (size <= 0 || static_cast<uint64_t>(size) > PTRDIFF_MAX) return nullptr;
  return calloc(static_cast<size_t>(size), 1);
}

void FreeBlock(void* block) { free(block); }

void CreateBlockHeap() {}

void DestroyBlockHeap() {}
