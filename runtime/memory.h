// Memory blocks, zero-filled: from a private heap of the runtime's on
// Windows, from the C library's allocator on POSIX. Any thread may allocate
// and free them.
#ifndef VEZOVUD_RUNTIME_MEMORY_H
#define VEZOVUD_RUNTIME_MEMORY_H

#include <stdint.h>

// A zero-filled block of size bytes, or null when size <= 0 or memory is short.
void* AllocateBlock(int64_t size);

// Frees a block; null does nothing.
void FreeBlock(void* block);

// The heap's start and end, called by InitRuntime and EndRuntime. Creating is
// harmless when the heap exists (AllocateBlock also creates it on demand).
// Destroying frees every block still allocated.
void CreateBlockHeap();
void DestroyBlockHeap();

// Asks the allocator to keep freed memory for reuse rather than hand it back
// to the system after every large block. A run that allocates and frees the
// same few large blocks for every entry (deflate's state at level 9 is about
// 256 KB, the read buffer 100 KB) otherwise makes system calls for each of
// them: on glibc, thousands of brk calls for a folder of small files. Call
// once at start-up, before other threads. Windows' heap keeps such blocks
// already: there it does nothing.
void KeepFreedMemoryForReuse();

#endif
