// The steps of a Build job that make the output file: count, archive,
// compare, write. They touch no window, so the Maker's job and the command
// line's `vezovud pack` run the very same code.
#ifndef VEZOVUD_PACK_BUILD_STEPS_H
#define VEZOVUD_PACK_BUILD_STEPS_H

#include <stdint.h>

#include "runtime/text.h"

const int32_t kCopyChunkBytes = 102400;  // archive bytes copied per read and write
// The new output is written under a name of this prefix and kPartNameRandomChars
// random letters and digits beside the target, then renamed: short, so that
// a target name of any length that fits leaves room for it.
extern const char kPartNamePrefix[];
const int32_t kPartNameRandomChars = 8;
const int32_t kPartNameTries = 100;  // names drawn before the output's folder is given up

enum BuildFailure {
  kBuildWritten = 0,       // the output file is in place
  kBuildNoTempName = 1,    // all temporary archive names are taken
  kBuildFilesLeftOut = 2,  // counts differ or files were left out (see the archiver's problems)
  kBuildArchiveUnreadable = 3,  // the temporary archive could not be written or read back
  kBuildArchiveTooLarge = 4,    // the archive is 2 GiB or more
  kBuildOutputFailed = 5,       // the output could not be created, written or put in place
  kBuildNoStub = 6,             // no stub image to write
  kBuildOutputInSource = 7,     // the output would lie inside the folder being packed
  kBuildOutputNotAFile = 8,     // the output exists and is no file (outputKind says what)
  kBuildArchiveReplaced = 9,    // the temporary archive read back is not the one created
  kBuildTempInSource = 10,      // the temporary archive would lie inside the folder being packed
  kBuildNoPrivateFolder = 11    // no private folder could be made for the temporary archive
};

// What an existing output is when it is no file to replace (kBuildOutputNotAFile).
enum OutputKind {
  kOutputFolder = 1,
  kOutputFifo = 2,
  kOutputSocket = 3,
  kOutputCharacterDevice = 4,
  kOutputBlockDevice = 5,
  kOutputSpecial = 6  // another kind of special file
};

struct BuildRequest {
  Text sourceFolder;  // ends in the separator
  Text outputFile;
  // The temporary archive: its folder is where the job's private folder is
  // made, its name the one the archive takes in there. A folder alone (the
  // name empty, ending in the separator) has the name drawn inside the
  // private folder, where no one else can take one. Empty when no free name
  // was found.
  Text tempArchive;
  const unsigned char* stubImage;
  int32_t stubBytes;
  int32_t chunkPauseMs;  // the archiver's pause after every chunk
  int32_t linkMode;      // the archiver's kLinksWithinFolder or kLinksFollowAll
  int32_t workers;       // deflating threads; 0 or 1: files deflated in turn, with the pause
  // Items left out (SetArchiverExclusions, folder_archiver.h): a pattern
  // without "/" matches an item's own name at any depth, one with "/" its
  // path below sourceFolder ("sub/name.txt"). A folder that matches is not
  // entered. The count walk and the archiver's walk leave out the same.
  const Text* excludes = nullptr;
  int32_t excludeCount = 0;
  // -1: times stored as found. Otherwise a count of seconds since 1970-01-01
  // UTC: every time later than it is stored as it (SOURCE_DATE_EPOCH).
  int64_t newestTime = -1;
  // 1: the whole folder is walked and checked, and the output's folder
  // tried, before anything is compressed, so that a refusal comes in the
  // time of a walk.
  int32_t checkFirst = 0;
};

struct BuildResult {
  int32_t failure;       // a BuildFailure; kBuildWritten on success
  int32_t fileCount;     // files counted below the folder
  int32_t addedCount;    // files the archiver added
  int64_t archiveBytes;  // A, when the archive could be read
  int64_t outputBytes;   // S + A + 4 when written
  int32_t outputKind;    // an OutputKind with kBuildOutputNotAFile, else 0
  int32_t outputLinked;  // 1 when that output is a link to such a thing
  int32_t reason;        // the system's reason when a system call failed (system.h), else 0
  Text where;            // the path that the failure concerns, when one does
};

// Runs count, archive, compare and write. An output inside the source
// folder, an output that exists and is no file (a folder, a device, a
// FIFO; a link to one: a link to a file is replaced, its target left
// alone), or a temporary archive inside the source folder is refused before
// anything is counted or written. The temporary archive is created
// exclusively in a private folder made inside tempArchive's folder
// (runtime/filesystem.h), and is copied into the output only when it is
// still the file created then. The output is first written to a part file
// beside the target, a new name drawn at random each time and created
// exclusively (never through a link, never over anything that exists), and
// replaces the target only when complete, so on any failure an existing
// target is untouched. A part file is marked in use while it is written;
// part files that killed runs left behind (plain files of this user's that
// no running process holds) are removed first, anything else that bears
// such a name is passed over and left alone.
// With checkFirst 1 the count is the archiver's check walk
// (CheckFolderForArchive): any item it finds wanting refuses the build
// (kBuildFilesLeftOut, the problem list filled, each item once) before
// anything is compressed or created, and so does a missing stub; then the
// part file is created (kBuildOutputFailed, with the system's reason, when
// the output's folder is missing or takes no new file), and the archive is
// only made after that. A write that fails for a full disk stops the run at
// once: kBuildArchiveUnreadable (the temporary archive or a spill file) or
// kBuildOutputFailed (the part file), with the system's reason and the path.
// The temporary archive and its private folder are removed in every case.
// While they and the part file exist they are noted as debris
// (runtime/filesystem.h), so that an interrupt procedure calling
// RemoveDebrisNow removes them. The archiver's problem list
// (folder_archiver.h) names the files behind kBuildFilesLeftOut. With
// workers above 1 the archive is made by AddFolderToArchiveInParallel, whose
// spill files go beside the temporary archive in its private folder; the
// output is the same bytes either way.
BuildResult RunBuildSteps(const BuildRequest& request);

// A short English sentence on why no output was written; the empty text for
// kBuildWritten. For kBuildFilesLeftOut it counts the archiver's problem
// list, the very items listed below it (the files counted but not added
// when the list is empty: the folder changed meanwhile).
Text BuildFailureText(const BuildResult& result);

#endif
