// The Build job on its own thread: gadget states around the build steps, and
// the boxes that tell the user how the job ended.
#include "maker/build_job.h"

#include <math.h>

#include "archive/folder_archiver.h"
#include "pack/build_steps.h"
#include "runtime/window.h"

Text gSourceFolder;
Text gOutputFile;
Text gTempArchive;
int32_t gFileCount = 0;
int32_t gAddedCount = 0;
intptr_t gJobThread = 0;
volatile int32_t gJobRunning = 0;

namespace {

const unsigned char* gStubImage = nullptr;
int32_t gStubBytes = 0;

void SetButtonsDisabled(int32_t disabled) {
  SetGadgetDisabled(kGadgetExit, disabled);
  SetGadgetDisabled(kGadgetSqueeze, disabled);
  SetGadgetDisabled(kGadgetBrowse, disabled);
}

}  // namespace

void SetStubImage(const unsigned char* image, int32_t bytes) {
  gStubImage = image;
  gStubBytes = bytes;
}

int32_t BuildJob(int32_t) {
  SetButtonsDisabled(1);
  BuildRequest request;
  request.sourceFolder = gSourceFolder;
  request.outputFile = gOutputFile;
  request.tempArchive = gTempArchive;
  request.stubImage = gStubImage;
  request.stubBytes = gStubBytes;
  request.chunkPauseMs = kMakerChunkPauseMs;
  // The Maker follows links wherever they lead, as it always has; dangling
  // ones are reported all the same.
  request.linkMode = kLinksFollowAll;
  // One file after another, pausing after every chunk, so the window stays
  // responsive on the machines the Maker was made for.
  request.workers = 1;
  BuildResult result = RunBuildSteps(request);
  gFileCount = result.fileCount;
  gAddedCount = result.addedCount;
  if (result.failure == kBuildWritten) {
    ShowMessage("Ready",
                Text("The archive was created sucessfully. ") + DecimalText(gAddedCount) +
                    " files were added.",
                kMessageInformation);
  } else {
    ShowMessage("Not written", BuildFailureText(result), kMessageExclamation);
  }
  gJobRunning = 0;
  gTempArchive = Text();
  gSourceFolder = Text();
  gOutputFile = Text();
  gFileCount = 0;
  PutGadgetValue(kGadgetProgress, 0);
  SetGadgetDisabled(kGadgetExit, 0);
  SetGadgetDisabled(kGadgetSqueeze, 0);
  SetGadgetDisabled(kGadgetBrowse, 0);
  PutGadgetText(kGadgetStatus, "Ready...");
  return 0;
}

int32_t ProgressCallback(const Text& fileName, float percent) {
  // lrintf rounds in the default mode, to nearest with ties to even.
  PutGadgetValue(kGadgetProgress, static_cast<int32_t>(lrintf(percent)));
  PutGadgetText(kGadgetStatus, FileNamePart(fileName));
  return 0;
}
