// Memory blocks from the runtime's private heap, zero-filled. Any thread may
// allocate and free them.
#ifndef VEZOVUD_RUNTIME_MEMORY_H
#define VEZOVUD_RUNTIME_MEMORY_H

#include <stdint.h>

// A zero-filled block of size bytes, or null when size <= 0 or memory is short.
void* AllocateBlock(int64_t size);

// Frees a block; null does nothing.
void FreeBlock(void* block);

#endif
