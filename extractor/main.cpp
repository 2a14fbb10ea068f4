// VezovudStub.exe: the program at the head of every output file. It unpacks
// the embedded banner, hands it to the flow and waits for events; the flow
// ends the process. It starts through the lean program entry
// (runtime/program_entry.h), which keeps the C runtime's start-up code out
// of the stub.
#include "extractor/packed_banner.h"
#include "extractor/stub_flow.h"
#include "runtime/memory.h"
#include "runtime/program_entry.h"

extern const unsigned char kStubBannerGz[];
extern const unsigned int kStubBannerGz_size;

int ProgramMain() {
  int32_t bannerBytes = 0;
  // A banner that does not unpack leaves the picture empty; the stub still works.
  void* banner =
      UnpackBanner(kStubBannerGz, static_cast<int32_t>(kStubBannerGz_size), &bannerBytes);
  StartStub(banner, bannerBytes);
  FreeBlock(banner);  // the window layer keeps a bitmap of its own
  RunStubEventLoop();
  return 0;
}
