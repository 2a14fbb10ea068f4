// The steps of a Build job that make the output file: count, archive,
// compare, write. They touch no window, so the Maker's job and the command
// line's `vezovud pack` run the very same code.
#ifndef VEZOVUD_PACK_BUILD_STEPS_H
#define VEZOVUD_PACK_BUILD_STEPS_H

#include <stdint.h>

#include "runtime/text.h"

const int32_t kCopyChunkBytes = 102400;  // archive bytes copied per read and write
// The new output is written under the target's name plus this, then renamed.
extern const char kPartialOutputSuffix[];

enum BuildFailure {
  kBuildWritten = 0,       // the output file is in place
  kBuildNoTempName = 1,    // all temporary archive names are taken
  kBuildFilesLeftOut = 2,  // counts differ or files were left out (see the archiver's problems)
  kBuildArchiveUnreadable = 3,  // the temporary archive could not be written or read back
  kBuildArchiveTooLarge = 4,    // the archive is 2 GiB or more
  kBuildOutputFailed = 5,       // the output could not be created, written or put in place
  kBuildNoStub = 6,             // no stub image to write
  kBuildOutputInSource = 7,     // the output would lie inside the folder being packed
  kBuildPartNameTaken = 8,      // the output's part name exists already; left alone
  kBuildArchiveReplaced = 9,    // the temporary archive read back is not the one created
  kBuildTempInSource = 10       // the temporary archive would lie inside the folder being packed
};

struct BuildRequest {
  Text sourceFolder;  // ends in the separator
  Text outputFile;
  Text tempArchive;  // empty when no free name was found
  const unsigned char* stubImage;
  int32_t stubBytes;
  int32_t chunkPauseMs;  // the archiver's pause after every chunk
  int32_t linkMode;      // the archiver's kLinksWithinFolder or kLinksFollowAll
  int32_t workers;       // deflating threads; 0 or 1: files deflated in turn, with the pause
};

struct BuildResult {
  int32_t failure;       // a BuildFailure; kBuildWritten on success
  int32_t fileCount;     // files counted below the folder
  int32_t addedCount;    // files the archiver added
  int64_t archiveBytes;  // A, when the archive could be read
  int64_t outputBytes;   // S + A + 4 when written
};

// Runs count, archive, compare and write. An output inside the source folder,
// or a temporary archive there, is refused before anything is written. The temporary archive is created
// exclusively, under the file name of tempArchive, in a private folder made
// inside tempArchive's folder (runtime/filesystem.h), and is copied into the
// output only when it is still the file created then. The output is first
// written to a part file beside the target, created exclusively (never
// through a link), and replaces the target only when complete, so on any
// failure an existing target is untouched. The temporary archive and its
// private folder are removed in every case. The archiver's problem list
// (folder_archiver.h) names the files behind kBuildFilesLeftOut. With
// workers above 1 the archive is made by AddFolderToArchiveInParallel, whose
// spill files go beside the temporary archive in its private folder; the
// output is the same bytes either way.
BuildResult RunBuildSteps(const BuildRequest& request);

// A short English sentence on why no output was written; the empty text for
// kBuildWritten.
Text BuildFailureText(const BuildResult& result);

#endif
