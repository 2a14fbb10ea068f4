// The Maker's Build job: the shared job state that the main window fills in
// before it starts the job, the thread procedure that runs the build steps
// while the window shows progress, and the progress callback.
#ifndef VEZOVUD_MAKER_BUILD_JOB_H
#define VEZOVUD_MAKER_BUILD_JOB_H

#include <stdint.h>

#include "runtime/text.h"

// Gadget numbers of the main window.
const int32_t kGadgetFolderField = 0;
const int32_t kGadgetBanner = 1;
const int32_t kGadgetCaption = 2;
const int32_t kGadgetBrowse = 3;
const int32_t kGadgetProgress = 4;
const int32_t kGadgetStatus = 5;
const int32_t kGadgetExit = 6;
const int32_t kGadgetSqueeze = 7;
const int32_t kGadgetAbout = 8;

// Shared job state. The main window writes gSourceFolder, gOutputFile and
// gTempArchive before it starts the job and sets gJobThread and gJobRunning
// right after; from then on the job's thread owns the state until it clears
// it at its end. No lock: the disabled buttons keep jobs from overlapping.
extern Text gSourceFolder;
extern Text gOutputFile;
extern Text gTempArchive;
extern int32_t gFileCount;
extern int32_t gAddedCount;
extern intptr_t gJobThread;
extern volatile int32_t gJobRunning;

// The stub image written at the head of every output file. The program sets
// it once at start-up from its embedded copy.
void SetStubImage(const unsigned char* image, int32_t bytes);

// The thread procedure: disables Exit, Squeeze! and Browse, runs the build
// steps with the Maker's 10 ms pause, reports ("Ready" box after a written
// output, an exclamation box saying why otherwise), clears the job state and
// returns the window to Idle. parameter is unused; the result is 0.
int32_t BuildJob(int32_t parameter);

// Sets the progress bar to percent rounded to the nearest integer (ties to
// even) and the status line to the file part of fileName. Returns 0.
int32_t ProgressCallback(const Text& fileName, float percent);

#endif
