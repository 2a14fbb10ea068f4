// The runtime's start-up and exit, the same on every platform: the heap of
// memory blocks first, and at the end every open file and listing closed
// before the heap goes.
#include "runtime/system.h"

#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/memory.h"

void InitRuntime() { CreateBlockHeap(); }

void EndRuntime() {
  CloseAllFiles();
  CloseAllListings();
  DestroyBlockHeap();
}
