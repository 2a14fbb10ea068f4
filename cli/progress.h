// The progress line of `vezovud pack` and `vezovud unpack`: one line on
// stderr, redrawn in place with "\r" at most every kProgressRedrawMs,
// fitted to the terminal's width. It counts bytes when the run knows its
// total, and entries (or the archiver's share of files) when it does not.
// The line's state is module-wide; one run draws at a time. Updates may come
// from any thread: one that meets another drawing is dropped, the next one
// draws the newer counts.
#ifndef VEZOVUD_CLI_PROGRESS_H
#define VEZOVUD_CLI_PROGRESS_H

#include <stdint.h>

#include "runtime/text.h"

const int32_t kProgressRedrawMs = 100;
const int32_t kProgressDefaultColumns = 80;  // the width when the terminal gives none

// What a progress count counts.
enum ProgressUnit {
  kProgressBytes = 1,    // "12.3 MiB of 27.1 MiB"
  kProgressEntries = 2,  // "3/10"
  kProgressShare = 3     // done is hundredths of a percent of total, no count shown
};

// Starts a run's line: shown only with shown 1 (stderr is a terminal and
// the run is not quiet); with 0 every call below does nothing.
void StartProgress(int shown);

// Takes the run's counts and the name of the item at hand (empty: keep the
// last), and redraws when kProgressRedrawMs have passed since the last
// drawing, or when done reaches total.
void ShowProgress(int32_t unit, int64_t done, int64_t total, const Text& name);

// Clears the line, so that an error or a listed name can be printed; the
// next ShowProgress draws it again.
void ClearProgress();

// Clears the line for good: the run is over.
void EndProgress();

// Async-signal-safe: ends a drawn line with a line break, so that the
// shell's prompt after an interrupt starts on a line of its own.
void BreakProgressLine();

// The line (ending in a line break) SayInterrupted writes; null: none, as
// with --quiet. line must live until the run ends.
void SetInterruptLine(const char* line);

// Async-signal-safe: breaks a drawn line, then writes the interrupt line.
void SayInterrupted();

// The line drawn for columns terminal columns: a percentage, a bar, the
// count in its unit and the name, cut to columns - 1 characters.
Text ProgressLine(int32_t columns, int32_t unit, int64_t done, int64_t total, const Text& name);

#endif
