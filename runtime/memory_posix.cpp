// POSIX back end of memory blocks: the C library's heap, which is already
// safe for every thread, stands in for the private heap.
#include <stdint.h>
#include <stdlib.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "runtime/memory.h"

void* AllocateBlock(int64_t size) {
  if (size <= 0 || static_cast<uint64_t>(size) > PTRDIFF_MAX) return nullptr;
  return calloc(static_cast<size_t>(size), 1);
}

void FreeBlock(void* block) { free(block); }

void CreateBlockHeap() {}

void DestroyBlockHeap() {}

namespace {

// Blocks below this come from the heap, not from mappings of their own; and
// the heap's free top is given back only past the trim size. Both well above
// what one entry's work needs, well below what a run may hold.
const int kMappedBlockBytes = 4 << 20;
const int kHeapTrimBytes = 64 << 20;

}  // namespace

void KeepFreedMemoryForReuse() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes);
  mallopt(M_TRIM_THRESHOLD, kHeapTrimBytes);
#endif
}
