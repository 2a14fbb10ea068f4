// Win32 back end of memory blocks: a private growable heap (HeapCreate,
// 4096 bytes to start), zero-filled blocks from HeapAlloc. The heap is made
// at start-up or at the first allocation, whichever comes first.
#include <windows.h>

#include "runtime/memory.h"

namespace {

const SIZE_T kHeapInitialBytes = 4096;

HANDLE volatile gBlockHeap = nullptr;

// The heap, created if need be. Two threads that race here both create one;
// the loser destroys its own.
HANDLE BlockHeap() {
  HANDLE heap = gBlockHeap;
  if (heap) return heap;
  HANDLE made = HeapCreate(0, kHeapInitialBytes, 0);
  if (!made) return nullptr;
  HANDLE earlier =
      InterlockedCompareExchangePointer(const_cast<PVOID volatile*>(&gBlockHeap), made, nullptr);
  if (earlier) {
    HeapDestroy(made);
    return earlier;
  }
  return made;
}

}  // namespace

void* AllocateBlock(int64_t size) {
  if (size <= 0 || static_cast<uint64_t>(size) > PTRDIFF_MAX) return nullptr;
  HANDLE heap = BlockHeap();
  return heap ? HeapAlloc(heap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(size)) : nullptr;
}

void FreeBlock(void* block) {
  HANDLE heap = gBlockHeap;
  if (block && heap) HeapFree(heap, 0, block);
}

void CreateBlockHeap() { BlockHeap(); }

void DestroyBlockHeap() {
  HANDLE heap = InterlockedExchangePointer(const_cast<PVOID volatile*>(&gBlockHeap), nullptr);
  if (heap) HeapDestroy(heap);
}

void KeepFreedMemoryForReuse() {}
