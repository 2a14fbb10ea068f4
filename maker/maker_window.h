// The Maker's main window: start-up, the nine gadgets and the event loop
// that acts on About, Browse, Exit and Squeeze!.
#ifndef VEZOVUD_MAKER_MAKER_WINDOW_H
#define VEZOVUD_MAKER_MAKER_WINDOW_H

#include <stdint.h>

#include "runtime/text.h"
#include "runtime/window.h"

extern const char kMakerTitle[];  // "Vezovud v1.0"

// The main window: number, banner image, outer top-left corner, client size
// in pixels, the bar's range (0..kMakerProgressMaximum) and the gadget table
// (numbers from maker/build_job.h) in creation order.
const int32_t kMakerWindowNumber = 0;
const int32_t kMakerBannerImage = 0;
const int32_t kMakerWindowX = 405;
const int32_t kMakerWindowY = 334;
const int32_t kMakerClientWidth = 253;
const int32_t kMakerClientHeight = 161;
const int32_t kMakerProgressMaximum = 100;
const int32_t kMakerGadgetCount = 9;
extern const GadgetSpec kMakerGadgets[kMakerGadgetCount];

// The output name completed with ".exe" unless its last four bytes are
// exactly ".exe" (so Setup.EXE becomes Setup.EXE.exe).
Text CompleteOutputName(const Text& name);

// Decodes the banner (image 0), opens window 0 and creates gadgets 0 to 8.
// Returns 1 when the window and its gadgets exist, else 0; the event loop
// may run either way. Call after InitWindows and InitFolderArchiver.
int32_t OpenMakerWindow(const void* banner, int32_t bannerBytes);

// Acts on one event code from WaitForEvent. Returns 1 when Exit was pressed,
// else 0.
int32_t HandleMakerEvent(int32_t event);

// Waits for events and handles them until Exit; then releases the Folder
// archiver. Returns the exit code, 0.
int32_t RunMakerEventLoop();

#endif
