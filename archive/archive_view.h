// The file view through which minizip reads an archive that lies inside a
// larger file (behind a stub image, before a trailer): minizip sees the
// archive's bytes alone, finds the end record at the view's end and reads
// offsets from its start, so no offset needs shifting.
#ifndef VEZOVUD_ARCHIVE_ARCHIVE_VIEW_H
#define VEZOVUD_ARCHIVE_ARCHIVE_VIEW_H

#include <stdint.h>
#include <unzip.h>

#include "runtime/text.h"

// Opens bytes [start, end) of the file at path with minizip's unzOpen2_64.
// minizip's handle, or null when the file cannot be opened or holds no
// archive there.
unzFile OpenArchiveView(const Text& path, int64_t start, int64_t end);

// Where in the view minizip last placed its reading position from the
// view's start. Right after minizip makes an entry current by its central
// record's offset, this is where it read that record.
int64_t LastViewPlacement();

#endif
