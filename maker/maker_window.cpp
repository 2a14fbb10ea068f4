// The Maker's main window and event loop. It writes the shared job state
// only before a job starts; the job's thread owns it from then on.
#include "maker/maker_window.h"

#include "archive/folder_archiver.h"
#include "maker/build_job.h"
#include "maker/prepare.h"
#include "runtime/thread.h"
#include "resources/about_text.h"
#include "runtime/window.h"

const char kMakerTitle[] = "Vezovud v1.0";

namespace {

const int32_t kMakerWindowNumber = 0;
const int32_t kBannerImageNumber = 0;
const int32_t kWindowX = 405;
const int32_t kWindowY = 334;
const int32_t kClientWidthPixels = 253;
const int32_t kClientHeightPixels = 161;
const int32_t kProgressMaximum = 100;

void OnBrowse() {
  Text folder = AskForFolder("Choose a path please", "");
  if (folder.IsEmpty()) return;
  if (RightPart(folder, 1) != "\\") folder += "\\";
  PutGadgetText(kGadgetFolderField, folder);
}

void OnSqueeze() {
  if (JobRunning == 1) {
    StopThread(JobThread);
    JobRunning = 0;
  }
  SourceFolder = ReadGadgetText(kGadgetFolderField);
  if (SourceFolder.IsEmpty()) return;
  if (RightPart(SourceFolder, 1) != "\\") SourceFolder += "\\";
  OutputFile = AskForSaveFile("Please choose file to save", "", "Executable files (*.exe)|*.exe", 0);
  if (OutputFile.IsEmpty()) return;
  OutputFile = CompleteOutputName(OutputFile);
  TempArchive = MakeTempArchiveName("Vezovud");
  SetArchiverProgressCallback(ProgressCallback);
  JobThread = StartThread(BuildJob, 0);
  JobRunning = 1;
}

}  // namespace

Text CompleteOutputName(const Text& name) {
  if (RightPart(name, 4) == ".exe" && name.Length() >= 4) return name;
  return name + ".exe";
}

int32_t OpenMakerWindow(const void* banner, int32_t bannerBytes) {
  intptr_t bitmap = ImageFromMemory(kBannerImageNumber, banner, bannerBytes);
  intptr_t window = OpenWindowByNumber(kMakerWindowNumber, kWindowX, kWindowY, kClientWidthPixels,
                                       kClientHeightPixels, kMakerTitle, kWindowTitleBar);
  if (window == 0 || BeginGadgets(window) == 0) return 0;
  int ok = AddTextField(kGadgetFolderField, 5, 60, 180, 20, "") != 0;
  ok &= AddPicture(kGadgetBanner, 0, 0, 253, 34, bitmap) != 0;
  ok &= AddLabel(kGadgetCaption, 5, 45, 245, 15, "Choose your folder:") != 0;
  ok &= AddButton(kGadgetBrowse, 190, 60, 60, 20, "Browse") != 0;
  ok &= AddProgressBar(kGadgetProgress, 5, 110, 240, 15, 0, kProgressMaximum) != 0;
  ok &= AddLabel(kGadgetStatus, 5, 90, 240, 15, "Ready...") != 0;
  ok &= AddButton(kGadgetExit, 125, 135, 60, 20, "Exit") != 0;
  ok &= AddButton(kGadgetSqueeze, 190, 135, 60, 20, "Squeeze!") != 0;
  ok &= AddButton(kGadgetAbout, 5, 135, 60, 20, "About") != 0;
  return ok ? 1 : 0;
}

int32_t HandleMakerEvent(int32_t event) {
  if (event != kEventGadget) return 0;
  switch (LastEventGadget()) {
    case kGadgetAbout:
      ShowMessage(kAboutBoxTitle, kAboutText, kMessageInformation);
      return 0;
    case kGadgetExit:
      return 1;
    case kGadgetBrowse:
      OnBrowse();
      return 0;
    case kGadgetSqueeze:
      OnSqueeze();
      return 0;
    default:
      return 0;
  }
}

int32_t RunMakerEventLoop() {
  while (!HandleMakerEvent(WaitForEvent())) {
  }
  FreeFolderArchiver();
  return 0;
}
