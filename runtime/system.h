// Start-up and exit of the runtime, and the clock.
#ifndef VEZOVUD_RUNTIME_SYSTEM_H
#define VEZOVUD_RUNTIME_SYSTEM_H

#include <stdint.h>

// Creates the private heap; the tables grow on first use. Call before
// anything else; a second call does nothing more.
void InitRuntime();

// Closes every open file (flushing each) and every listing, and destroys the
// private heap. Call at the program's end; InitRuntime may start it again.
void EndRuntime();

// Milliseconds since some fixed point, wrapping at 2^32.
uint32_t TickCount();

// Gives up the processor for ms milliseconds; 0 or less returns at once.
void PauseMilliseconds(int32_t ms);

#endif
