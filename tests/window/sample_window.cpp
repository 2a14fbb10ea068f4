// A windowed test program that opens the Maker's or the stub's window, with
// its banner, through the window layer, so that scripts/screenshots.sh can
// photograph it. Usage: sample_window maker|stub [seconds]; About shows the
// About box; Exit, or the given seconds (default 30), ends it.
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include "resources/embedded.h"
#include "runtime/window.h"
#include "window/sample_layouts.h"

VEZOVUD_DECLARE_EMBEDDED(window_test_maker_banner);
VEZOVUD_DECLARE_EMBEDDED(window_test_stub_banner);

const int32_t kDefaultSeconds = 30;
const UINT kTickMs = 250;
const int32_t kExitGadget = 6;
const int32_t kAboutGadget = 8;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  bool maker = !(__argc > 1 && strcmp(__argv[1], "stub") == 0);
  int32_t seconds = __argc > 2 ? atoi(__argv[2]) : kDefaultSeconds;
  InitWindows();
  ImageFromMemory(0, maker ? window_test_maker_banner : window_test_stub_banner,
                  (int32_t)(maker ? window_test_maker_banner_size : window_test_stub_banner_size));
  window_test::OpenLayout(maker);
  ShowOrHideWindow(0, 0);
  SetTimer(NULL, 0, kTickMs, NULL);  // keeps the wait returning for the time limit
  DWORD began = GetTickCount();
  while (GetTickCount() - began < (DWORD)seconds * 1000) {
    if (WaitForEvent() != kEventGadget || LastEventType() != 0) continue;
    if (LastEventGadget() == kExitGadget) break;
    if (LastEventGadget() == kAboutGadget) {
      ShowMessage("About Vezovud",
                  "Vezovud v1.1\n\r\n\rDescription: Vezovud is a small tool to make\n\r"
                  "Self-Extracting ZIP archives.",
                  kMessageInformation);
    }
  }
  EndWindows();
  return 0;
}
