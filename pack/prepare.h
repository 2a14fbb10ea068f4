// The two procedures that prepare a Build job: counting the files below the
// source folder, and choosing a free name for the temporary archive.
#ifndef VEZOVUD_PACK_PREPARE_H
#define VEZOVUD_PACK_PREPARE_H

#include <stdint.h>

#include "runtime/text.h"

const int32_t kTempNameCount = 100;  // names prefix0 .. prefix99

// The number of files at any depth below folder ("\" appended when missing).
// Every directory entry is a folder, everything else a file. Folders that
// cannot be listed add nothing; 0 for a folder that cannot be listed at all.
// Folder links back into a folder the walk is inside of are not followed,
// exactly as the Folder archiver's walk skips them, so both counts agree.
int32_t CountFiles(const Text& folder);

// The temporary folder + prefix + a random number 0..99 that names no file or
// folder yet. The empty text when all 100 names are taken.
Text MakeTempArchiveName(const Text& prefix);

// The same draw inside folder (ending in the separator), such as a private
// folder of the job's own, where no one else can take a name.
Text MakeTempArchiveNameIn(const Text& folder, const Text& prefix);

#endif
