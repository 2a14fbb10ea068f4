// Putting a finished file in place of another: the writer builds the new
// file under a name of its own beside the target and, only once that file is
// complete, makes it take the target's name in one step.
#ifndef VEZOVUD_RUNTIME_FILE_REPLACE_H
#define VEZOVUD_RUNTIME_FILE_REPLACE_H

#include "runtime/text.h"

// Renames replacement to target, replacing an existing target. Both must lie
// on the same volume. 1 on success; 0 on failure, when both files stay as
// they were.
int ReplaceFileWith(const Text& target, const Text& replacement);

#endif
