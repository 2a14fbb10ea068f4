// VezovudMaker.exe: starts the services, opens the main window and runs the
// event loop until Exit. The stub image and the banner are embedded by the
// build (vezovud_embed_file).
#include "archive/folder_archiver.h"
#include "maker/build_job.h"
#include "maker/maker_window.h"
#include "resources/embedded.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/window.h"

VEZOVUD_DECLARE_EMBEDDED(kStubImage);
VEZOVUD_DECLARE_EMBEDDED(kMakerBanner);

int main() {
  InitRuntime();
  InitWindows();
  InitFolderArchiver();
  SetStubImage(kStubImage, static_cast<int32_t>(kStubImage_size));
  OpenMakerWindow(kMakerBanner, static_cast<int32_t>(kMakerBanner_size));
  int32_t code = RunMakerEventLoop();
  EndWindows();
  EndRuntime();
  EndProcess(code);
  return code;
}
