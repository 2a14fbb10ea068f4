// The Extractor stub's flow. The window thread runs start-up and the event
// loop; one extraction thread at a time runs ExtractionJob. The state below
// is handed over by order: the own path is complete before the window is
// shown, and only the window thread starts a run (gRunActive guards that).
#include "extractor/stub_flow.h"

#include <stdlib.h>

#include "archive/archive_reader.h"
#include "archive/extraction.h"
#include "runtime/process.h"
#include "runtime/system.h"
#include "runtime/thread.h"
#include "resources/about_text.h"
#include "runtime/window.h"

const char kNoArchiveText[] =
    "This file holds no archive that can be read. It may be damaged or "
    "incomplete: please get it again. Nothing was extracted.";

const GadgetSpec kStubGadgets[kStubGadgetCount] = {
    {kGadgetDestinationField, kGadgetTextField, 5, 55, 180, 20, 0, ""},
    {kGadgetBanner, kGadgetPicture, 0, 0, 253, 34, 0, nullptr},
    {kGadgetPrompt, kGadgetLabel, 5, 40, 245, 15, 0, "Choose your destination directory:"},
    {kGadgetBrowse, kGadgetButton, 190, 55, 60, 20, 0, "Browse"},
    {kGadgetProgress, kGadgetProgressBar, 5, 80, 245, 15, kStubProgressMaximum, nullptr},
    {kGadgetExit, kGadgetButton, 105, 100, 70, 20, 0, "Exit"},
    {kGadgetExtract, kGadgetButton, 180, 100, 70, 20, 0, "Extract"},
    {kGadgetAbout, kGadgetButton, 5, 100, 60, 20, 0, "About"},
};

namespace {

const int32_t kWindowFlags = kWindowInvisible | kWindowTitleBar;  // 0x10C00000
const int32_t kKeepFolders = 1;

// The own path and the tests' override of it, as copies from CopyToCString
// (null: none), so that this state needs no constructor or destructor.
char* gOwnPath = nullptr;
char* gOwnPathOverride = nullptr;
// Set by the window thread when it starts a run; cleared by that run only
// when it ends without ending the program (empty destination).
volatile int32_t gRunActive = 0;
volatile int32_t gProgramEnded = 0;
// Set while the run walks the entries with the archive and a part file open.
// The program's end then skips the runtime clean-up: freeing the file table
// and the heap under the running thread could crash it, and the process end
// releases everything anyway. It removes the part file of the entry in
// progress; files that were there before, and whole ones, are untouched.
volatile int32_t gEntriesInProgress = 0;
int32_t gProgressCounter = 0;
StubEndHook gEndHook = nullptr;
// The code the program ends with, Exit included: 1 from the moment a run
// has its destination until it has brought every entry out.
volatile int32_t gExitCode = 0;

void OnConsoleClosed() {
  if (gEntriesInProgress) {
    RemovePartFileInProgress();
  } else {
    EndRuntime();
  }
}

// The engine's steps: the prompt once the archive is open, the bar after
// every entry.
void OnExtractionStep(void*, const ExtractionStep& step) {
  if (step.kind == kStepOpened) {
    gEntriesInProgress = 1;
    PutGadgetText(kGadgetPrompt, "Extracting files...");
  } else {
    StepProgress(static_cast<int32_t>(step.total));
  }
}

void OnBrowse() {
  Text folder = AskForFolder("Choose the destination path please", "");
  if (folder.IsEmpty()) return;  // cancelled
  if (RightPart(folder, 1) != "\\") folder += "\\";
  // Only the field changes: a running run keeps the destination it read.
  PutGadgetText(kGadgetDestinationField, folder);
}

void OnExtract() {
  // A second Extract while a run is active would share the reader and the
  // progress counter with it: it is ignored.
  if (gRunActive) return;
  gRunActive = 1;
  if (StartThread(ExtractionJob, 0) == 0) gRunActive = 0;
}

}  // namespace

void StartStub(const void* banner, int32_t bannerBytes) {
  InitRuntime();
  InitWindows();
  if (banner != nullptr) ImageFromMemory(kStubBannerImage, banner, bannerBytes);
  OpenConsoleWindow(OnConsoleClosed);
  if (OpenWindowByNumber(kStubWindowNumber, kStubWindowX, kStubWindowY, kStubClientWidth,
                         kStubClientHeight, "Vezovud Archive", kWindowFlags) != 0 &&
      BeginGadgets(WindowHandleOf(kStubWindowNumber)) != 0) {
    AddGadgets(kStubGadgets, kStubGadgetCount, ImageHandleOf(kStubBannerImage));
  }
  free(gOwnPath);
  gOwnPath =
      CopyToCString(gOwnPathOverride == nullptr ? OwnExecutablePath() : Text(gOwnPathOverride));
  ShowOrHideWindow(kStubWindowNumber, 0);
}

void HandleStubEvent(int32_t event) {
  if (event != kEventGadget) return;  // close requests included: nothing
  switch (LastEventGadget()) {
    case kGadgetBrowse: OnBrowse(); break;
    case kGadgetExtract: OnExtract(); break;
    case kGadgetExit: EndStub(gExitCode); break;
    case kGadgetAbout: ShowMessage(kAboutBoxTitle, kAboutText, kMessageInformation); break;
    default: break;
  }
}

void RunStubEventLoop() {
  while (!gProgramEnded) HandleStubEvent(WaitForEvent());
}

int32_t StepProgress(int32_t total) {
  // The product in a double: no overflow however many entries, and the
  // quotient, cut to a whole number, is the exact one (a double holds these
  // products exactly, and its rounding error stays below 1 / total). A total
  // of 0 (an archive without entries) leaves the bar at 0 instead of
  // dividing by it.
  int32_t value =
      total > 0 ? static_cast<int32_t>(static_cast<double>(gProgressCounter) * 100.0 / total) : 0;
  PutGadgetValue(kGadgetProgress, value);
  gProgressCounter += 1;
  return 0;
}

int32_t ExtractionJob(int32_t parameter) {
  (void)parameter;
  Text destination = ReadGadgetText(kGadgetDestinationField);
  if (destination.IsEmpty()) {
    ShowMessage("Vezovud", "Please choose a destination path!", kMessageExclamation);
    gRunActive = 0;
    return 0;
  }
  gExitCode = 1;
  ExtractionReport report;
  int result = ExtractArchive(Text(gOwnPath), destination, kRunExtract, kStubSearchBytes,
                              OnExtractionStep, nullptr, &report);
  gEntriesInProgress = 0;
  if (result == 0) gExitCode = 0;
  PutGadgetText(kGadgetPrompt, "Ready");
  if (result < 0) {
    // A damaged download, or a stub without its archive: nothing was written.
    ShowMessage("Vezovud", kNoArchiveText, kMessageExclamation);
  } else {
    Text caption = DecimalText(static_cast<int32_t>(report.total));
    if (result == 0) {
      ShowMessage(caption, "The files were extracted successfully!", kMessageInformation);
    } else {
      Text text = DecimalText(static_cast<int32_t>(report.failed + report.skipped)) + " of " +
                  caption + " entries could not be extracted.";
      ShowMessage(caption, text, kMessageExclamation);
    }
  }
  FreeExtractionReport(&report);
  EndStub(gExitCode);
  return 0;
}

void EndStub(int32_t exitCode) {
  gProgramEnded = 1;
  if (gEndHook != nullptr) {
    gEndHook(exitCode);
    return;
  }
  if (gEntriesInProgress) {
    RemovePartFileInProgress();
  } else {
    EndWindows();
    EndRuntime();
  }
  EndProcess(exitCode);
}

void SetStubEndHook(StubEndHook hook) { gEndHook = hook; }

void OverrideStubOwnPath(const Text& path) {
  free(gOwnPathOverride);
  gOwnPathOverride = CopyToCString(path);
}

void ResetStubFlow() {
  gRunActive = 0;
  gEntriesInProgress = 0;
  gProgramEnded = 0;
  gProgressCounter = 0;
  gExitCode = 0;
}

int32_t StubHasEnded() { return gProgramEnded; }

int32_t StubRunActive() { return gRunActive; }
