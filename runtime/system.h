// Start-up and exit of the runtime, and the clock.
#ifndef VEZOVUD_RUNTIME_SYSTEM_H
#define VEZOVUD_RUNTIME_SYSTEM_H

#include <stdint.h>

// Creates the private heap and the tables. Call once, before anything else.
void InitRuntime();

// Closes every open file (flushing each) and every listing, and destroys the
// private heap. Call once at the program's end.
void EndRuntime();

// Milliseconds since some fixed point, wrapping at 2^32.
uint32_t TickCount();

// Gives up the processor for ms milliseconds.
void PauseMilliseconds(int32_t ms);

#endif
