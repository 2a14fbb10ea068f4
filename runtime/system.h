// Start-up and exit of the runtime, and the clock.
#ifndef VEZOVUD_RUNTIME_SYSTEM_H
#define VEZOVUD_RUNTIME_SYSTEM_H

#include <stdint.h>

// Makes the memory service ready (a private heap on Windows); the tables
// grow on first use. Call before anything else; a second call does nothing
// more.
void InitRuntime();

// Closes every open file (flushing each) and every listing, and ends the
// memory service (on Windows its private heap is destroyed). Call at the
// program's end; InitRuntime may start it again.
void EndRuntime();

// Milliseconds since some fixed point, wrapping at 2^32.
uint32_t TickCount();

// Gives up the processor for ms milliseconds; 0 or less returns at once.
void PauseMilliseconds(int32_t ms);

#endif
