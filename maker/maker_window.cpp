// The Maker's main window and event loop. It writes the shared job state
// only before a job starts; the job's thread owns it from then on.
#include "maker/maker_window.h"

#include "archive/folder_archiver.h"
#include "maker/build_job.h"
#include "pack/prepare.h"
#include "resources/about_text.h"
#include "runtime/thread.h"
#include "runtime/window.h"

const char kMakerTitle[] = "Vezovud v1.0";

const GadgetSpec kMakerGadgets[kMakerGadgetCount] = {
    {kGadgetFolderField, kGadgetTextField, 5, 60, 180, 20, 0, ""},
    {kGadgetBanner, kGadgetPicture, 0, 0, 253, 34, 0, nullptr},
    {kGadgetCaption, kGadgetLabel, 5, 45, 245, 15, 0, "Choose your folder:"},
    {kGadgetBrowse, kGadgetButton, 190, 60, 60, 20, 0, "Browse"},
    {kGadgetProgress, kGadgetProgressBar, 5, 110, 240, 15, kMakerProgressMaximum, nullptr},
    {kGadgetStatus, kGadgetLabel, 5, 90, 240, 15, 0, "Ready..."},
    {kGadgetExit, kGadgetButton, 125, 135, 60, 20, 0, "Exit"},
    {kGadgetSqueeze, kGadgetButton, 190, 135, 60, 20, 0, "Squeeze!"},
    {kGadgetAbout, kGadgetButton, 5, 135, 60, 20, 0, "About"},
};

namespace {

void OnBrowse() {
  Text folder = AskForFolder("Choose a path please", "");
  if (folder.IsEmpty()) return;
  if (RightPart(folder, 1) != "\\") folder += "\\";
  PutGadgetText(kGadgetFolderField, folder);
}

void OnSqueeze() {
  if (gJobRunning == 1) {
    StopThread(gJobThread);
    gJobRunning = 0;
  }
  gSourceFolder = ReadGadgetText(kGadgetFolderField);
  if (gSourceFolder.IsEmpty()) return;
  if (RightPart(gSourceFolder, 1) != "\\") gSourceFolder += "\\";
  gOutputFile = AskForSaveFile("Please choose file to save", "Executable files (*.exe)|*.exe");
  if (gOutputFile.IsEmpty()) return;
  gOutputFile = CompleteOutputName(gOutputFile);
  gTempArchive = MakeTempArchiveName("Vezovud");
  SetArchiverProgressCallback(ProgressCallback);
  gJobThread = StartThread(BuildJob, 0);
  gJobRunning = 1;
}

}  // namespace

Text CompleteOutputName(const Text& name) {
  if (RightPart(name, 4) == ".exe" && name.Length() >= 4) return name;
  return name + ".exe";
}

int32_t OpenMakerWindow(const void* banner, int32_t bannerBytes) {
  intptr_t bitmap = ImageFromMemory(kMakerBannerImage, banner, bannerBytes);
  intptr_t window =
      OpenWindowByNumber(kMakerWindowNumber, kMakerWindowX, kMakerWindowY, kMakerClientWidth,
                         kMakerClientHeight, kMakerTitle, kWindowTitleBar);
  if (window == 0 || BeginGadgets(window) == 0) return 0;
  return AddGadgets(kMakerGadgets, kMakerGadgetCount, bitmap);
}

int32_t HandleMakerEvent(int32_t event) {
  if (event != kEventGadget) return 0;
  switch (LastEventGadget()) {
    case kGadgetAbout: ShowMessage(kAboutBoxTitle, kAboutText, kMessageInformation); return 0;
    case kGadgetExit: return 1;
    case kGadgetBrowse: OnBrowse(); return 0;
    case kGadgetSqueeze: OnSqueeze(); return 0;
    default: return 0;
  }
}

int32_t RunMakerEventLoop() {
  while (!HandleMakerEvent(WaitForEvent())) {
  }
  FreeFolderArchiver();
  return 0;
}
