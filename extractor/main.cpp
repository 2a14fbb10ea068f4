// VezovudStub.exe: the program at the head of every output file. It hands
// the embedded banner to the flow and waits for events; the flow ends the
// process.
#include "extractor/stub_flow.h"

extern const unsigned char kStubBannerBmp[];
extern const unsigned int kStubBannerBmp_size;

int main() {
  StartStub(kStubBannerBmp, (int32_t)kStubBannerBmp_size);
  RunStubEventLoop();
  return 0;
}
