// A windowed test program that builds one of the two programs' windows
// through the window layer, gadget by gadget as they do, so that
// scripts/screenshots.sh can photograph it. Usage: sample_window maker|stub
// [seconds]; it ends on Exit or after the given seconds (default 30).
#include <windows.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "runtime/window.h"
#include "window/bitmap_maker.h"

#ifdef VEZOVUD_HAVE_BANNERS
#include "resources/embedded.h"
VEZOVUD_DECLARE_EMBEDDED(window_test_maker_banner);
VEZOVUD_DECLARE_EMBEDDED(window_test_stub_banner);
#endif

namespace {

const int32_t kDefaultSeconds = 30;
const UINT kTickMs = 250;
const char kAboutText[] =
    "Vezovud v1.1\n\r\n\rDescription: Vezovud is a small tool to make\n\r"
    "Self-Extracting ZIP archives.";

// A stand-in banner when the programs' own are not in the tree: a light-blue
// gradient (Maker) or white with an orange band (stub).
std::vector<uint8_t> PlaceholderBanner(bool maker) {
  return window_test::MakeBitmap(253, 34, [maker](int x, int y) -> uint32_t {
    if (maker) {
      uint32_t blue = 0xFF, green = 0xB0 + x * 0x40 / 253, red = 0x80 + x * 0x60 / 253;
      return (red << 16) | (green << 8) | blue;
    }
    return (y > 12 && y < 22 && x > 10 && x < 200) ? 0xFF8000 : 0xFFFFFF;
  });
}

void LoadBanner(bool maker) {
#ifdef VEZOVUD_HAVE_BANNERS
  const unsigned char* data = maker ? window_test_maker_banner : window_test_stub_banner;
  int32_t bytes = (int32_t)(maker ? window_test_maker_banner_size : window_test_stub_banner_size);
  if (ImageFromMemory(0, data, bytes) != 0) return;
#endif
  std::vector<uint8_t> banner = PlaceholderBanner(maker);
  ImageFromMemory(0, banner.data(), (int32_t)banner.size());
}

// The Maker's window: window 0, gadgets 0 to 8.
void OpenMakerWindow() {
  if (OpenWindowByNumber(0, 405, 334, 253, 161, "Vezovud v1.0", 0xC00000) == 0) return;
  if (BeginGadgets(WindowHandleOf(0)) == 0) return;
  AddTextField(0, 5, 60, 180, 20, "");
  AddPicture(1, 0, 0, 253, 34, ImageHandleOf(0));
  AddLabel(2, 5, 45, 245, 15, "Choose your folder:");
  AddButton(3, 190, 60, 60, 20, "Browse");
  AddProgressBar(4, 5, 110, 240, 15, 0, 100);
  AddLabel(5, 5, 90, 240, 15, "Ready...");
  AddButton(6, 125, 135, 60, 20, "Exit");
  AddButton(7, 190, 135, 60, 20, "Squeeze!");
  AddButton(8, 5, 135, 60, 20, "About");
}

// The Extractor's window: created hidden, gadgets 1 to 8, then shown.
void OpenStubWindow() {
  if (OpenWindowByNumber(0, 405, 334, 253, 125, "Vezovud Archive", 0x10C00000) != 0 &&
      BeginGadgets(WindowHandleOf(0)) != 0) {
    AddTextField(1, 5, 55, 180, 20, "");
    AddPicture(2, 0, 0, 253, 34, ImageHandleOf(0));
    AddLabel(3, 5, 40, 245, 15, "Choose your destination directory:");
    AddButton(4, 190, 55, 60, 20, "Browse");
    AddProgressBar(5, 5, 80, 245, 15, 0, 100);
    AddButton(6, 105, 100, 70, 20, "Exit");
    AddButton(7, 180, 100, 70, 20, "Extract");
    AddButton(8, 5, 100, 60, 20, "About");
  }
  ShowOrHideWindow(0, 0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  bool maker = !(__argc > 1 && strcmp(__argv[1], "stub") == 0);
  int32_t seconds = __argc > 2 ? atoi(__argv[2]) : kDefaultSeconds;
  InitWindows();
  LoadBanner(maker);
  if (maker) {
    OpenMakerWindow();
  } else {
    OpenStubWindow();
  }
  const int32_t folderField = maker ? 0 : 1;
  const int32_t browse = maker ? 3 : 4;
  const int32_t progress = maker ? 4 : 5;
  const int32_t start = 7;
  SetTimer(NULL, 0, kTickMs, NULL);
  DWORD began = GetTickCount();
  while (GetTickCount() - began < (DWORD)seconds * 1000) {
    if (WaitForEvent() != kEventGadget) continue;
    int32_t gadget = LastEventGadget();
    if (LastEventType() != 0) continue;
    if (gadget == 6) break;
    if (gadget == 8) ShowMessage("About Vezovud", kAboutText, kMessageInformation);
    if (gadget == start) PutGadgetValue(progress, 50);
    if (gadget == browse) {
      Text folder = AskForFolder(maker ? "Choose a path please"
                                       : "Choose the destination path please", "");
      if (!folder.IsEmpty()) PutGadgetText(folderField, folder);
    }
  }
  EndWindows();
  return 0;
}
