// The Extractor stub's program flow: start-up, the event loop and the
// extraction job, over the window layer. It is portable; extractor/main.cpp
// only hands it the embedded banner. The program's end goes through EndStub,
// which tests redirect to a hook of their own.
#ifndef VEZOVUD_EXTRACTOR_STUB_FLOW_H
#define VEZOVUD_EXTRACTOR_STUB_FLOW_H

#include <stdint.h>

#include "runtime/text.h"
#include "runtime/window.h"

// The Extractor window: number, banner image, outer top-left corner, client
// size in pixels, the bar's range (0..kStubProgressMaximum), the gadget numbers
// and the gadget table in creation order.
const int32_t kStubWindowNumber = 0;
const int32_t kStubBannerImage = 0;
const int32_t kStubWindowX = 405;
const int32_t kStubWindowY = 334;
const int32_t kStubClientWidth = 253;
const int32_t kStubClientHeight = 125;
const int32_t kStubProgressMaximum = 100;
const int32_t kGadgetDestinationField = 1;
const int32_t kGadgetBanner = 2;
const int32_t kGadgetPrompt = 3;
const int32_t kGadgetBrowse = 4;
const int32_t kGadgetProgress = 5;
const int32_t kGadgetExit = 6;
const int32_t kGadgetExtract = 7;
const int32_t kGadgetAbout = 8;
const int32_t kStubGadgetCount = 8;
extern const GadgetSpec kStubGadgets[kStubGadgetCount];

// The box shown when the stub's own file holds no archive it can read.
extern const char kNoArchiveText[];

// Start-up: runtime and window layer, banner image 0 from the
// BMP at banner (bannerBytes long; none when null), the console window, the
// hidden Extractor window with its gadgets (skipped when the window cannot
// be made), the own path, and showing the window.
void StartStub(const void* banner, int32_t bannerBytes);

// Acts on one event of WaitForEvent: the four buttons; everything else,
// close requests included, changes nothing. Exit ends the program with the
// code a run would: 1 while a run that has read its destination has not
// brought every entry out (its end box up included), else 0.
void HandleStubEvent(int32_t event);

// Waits for events and handles them until the program has ended (for ever,
// in the real program, where ending the program ends the process).
void RunStubEventLoop();

// The extraction thread's procedure (parameter unused). It reads the
// destination once, extracts every entry of the own file's payload, shows
// the end-of-run box (or, when the file holds no readable archive, a box
// saying so) and ends the program: exit code 0 when every entry came out,
// 1 otherwise. Returns 0.
int32_t ExtractionJob(int32_t parameter);

// Sets the progress bar to counter x 100 / total (0 for a total of 0) and
// then counts one more step. Returns 0.
int32_t StepProgress(int32_t total);

// Ends the program with exitCode: the window layer's and the runtime's
// clean-up, then the end of the process. With a hook set, the hook is
// called instead and EndStub returns.
void EndStub(int32_t exitCode);

typedef void (*StubEndHook)(int32_t exitCode);

// For tests: the hook EndStub calls instead of ending the process (null
// restores the real end), the path used instead of the executable's own at
// the next start-up (empty: the real one), and a reset of the flow's state
// (progress counter, running run, ended flag).
void SetStubEndHook(StubEndHook hook);
void OverrideStubOwnPath(const Text& path);
void ResetStubFlow();

// 1 once EndStub has run.
int32_t StubHasEnded();

// 1 from Extract until the run ends without ending the program (an empty
// destination); the run that ends the program leaves it 1.
int32_t StubRunActive();

#endif
