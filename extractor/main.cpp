// VezovudStub.exe: the program at the head of every output file. It unpacks
// the embedded banner, hands it to the flow and waits for events; the flow
// ends the process.
#include "extractor/packed_banner.h"
#include "extractor/stub_flow.h"
#include "runtime/memory.h"

extern const unsigned char kStubBannerGz[];
extern const unsigned int kStubBannerGz_size;

int main() {
  int32_t bannerBytes = 0;
  // A banner that does not unpack leaves the picture empty; the stub still works.
  void* banner = UnpackBanner(kStubBannerGz, (int32_t)kStubBannerGz_size, &bannerBytes);
  StartStub(banner, bannerBytes);
  FreeBlock(banner);  // the window layer keeps a bitmap of its own
  RunStubEventLoop();
  return 0;
}
