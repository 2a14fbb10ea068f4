// Putting a finished file in place: the writer builds the new file under a
// name of its own beside the target and, only once that file is complete,
// makes it take the target's name in one step, replacing the file there or
// taking a name that nothing holds.
#ifndef VEZOVUD_RUNTIME_FILE_REPLACE_H
#define VEZOVUD_RUNTIME_FILE_REPLACE_H

#include "runtime/text.h"

// Renames replacement to target, replacing an existing target. Both must lie
// on the same volume. 1 on success; 0 on failure, when both files stay as
// they were.
int ReplaceFileWith(const Text& target, const Text& replacement);

// Renames replacement to target only while nothing at all holds the name
// target: a file, folder or link that appeared there meanwhile is never
// replaced. One step where the system has one (renameat2 with
// RENAME_NOREPLACE on Linux, MoveFileEx without MOVEFILE_REPLACE_EXISTING on
// Windows); on a POSIX file system without it, a second name made with
// link(2) and the first one removed; where that fails too, a look at the
// name just before rename(2). Both on the same volume. 1 on success; 0 on
// failure, when both names stay as they were (LastSystemError says why:
// EEXIST or ERROR_ALREADY_EXISTS when the name is taken).
int RenameWithoutReplacing(const Text& target, const Text& replacement);

#endif
