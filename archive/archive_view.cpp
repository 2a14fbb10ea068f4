// The file view through which minizip reads an archive: bytes [start, end)
// of a file, the archive alone, with two cached blocks for minizip's small
// reads. One view is open at a time; its bounds are module state.
#include "archive/archive_view.h"

#include <stdlib.h>
#include <string.h>

#include "runtime/file.h"

namespace {

struct ViewBounds {
  int64_t start;
  int64_t end;
  int64_t placed;  // the last position minizip set from the view's start
};
ViewBounds gViewBounds = {0, 0, 0};

// minizip reads a record a few bytes at a time, and goes back and forth
// between the central directory and each entry's local header and data. The
// view keeps two blocks of the file, the one used last and the one before,
// so that those small reads cost no system call; larger reads go straight
// to the file.
const int kViewBlockBytes = 32768;

struct ViewBlock {
  int64_t offset;  // in the view; -1 when empty
  int64_t filled;
  unsigned char bytes[kViewBlockBytes];
};

struct FileView {
  intptr_t file;  // a plain file
  int64_t start;
  int64_t visibleBytes;
  int64_t position;
  ViewBlock blocks[2];
  int newest;  // the block used last
  int failed;  // a read of the file failed
};

voidpf ZCALLBACK ViewOpen(voidpf opaque, const void* filename, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  const ViewBounds* bounds = static_cast<const ViewBounds*>(opaque);
  intptr_t file = OpenPlainFileForReading(Text(static_cast<const char*>(filename)));
  if (file == 0) return nullptr;
  FileView* view = static_cast<FileView*>(malloc(sizeof(FileView)));
  if (view == nullptr) {
    ClosePlainFile(file);
    return nullptr;
  }
  view->file = file;
  view->start = bounds->start;
  view->visibleBytes = bounds->end - bounds->start;
  view->position = 0;
  view->blocks[0].offset = -1;
  view->blocks[1].offset = -1;
  view->newest = 0;
  view->failed = 0;
  return view;
}

// Reads length bytes at offset in the view into out; 1 when all came.
int ReadViewBytes(FileView* view, int64_t offset, void* out, int64_t length) {
  if (SeekPlainFile(view->file, view->start + offset) &&
      ReadPlainFile(view->file, out, static_cast<int32_t>(length)) == length) {
    return 1;
  }
  view->failed = 1;
  return 0;
}

uLong ZCALLBACK ViewRead(voidpf, voidpf stream, void* buffer, uLong size) {
  FileView* view = static_cast<FileView*>(stream);
  // Reads stop at the view's end, as they would at a file's end.
  int64_t left = view->visibleBytes - view->position;
  if (static_cast<int64_t>(size) > left) size = static_cast<uLong>(left);
  if (size == 0) return 0;
  if (size >= static_cast<uLong>(kViewBlockBytes)) {
    if (!ReadViewBytes(view, view->position, buffer, size)) return 0;
    view->position += size;
    return size;
  }
  unsigned char* out = static_cast<unsigned char*>(buffer);
  uLong done = 0;
  while (done < size) {
    int64_t at = view->position;
    int found = -1;
    for (int i = 0; i < 2 && found < 0; ++i) {
      const ViewBlock& b = view->blocks[i];
      if (b.offset >= 0 && at >= b.offset && at < b.offset + b.filled) found = i;
    }
    if (found < 0) {
      // The older block makes room.
      found = 1 - view->newest;
      ViewBlock* block = &view->blocks[found];
      int64_t want = view->visibleBytes - at;
      if (want > kViewBlockBytes) want = kViewBlockBytes;
      block->offset = -1;
      if (!ReadViewBytes(view, at, block->bytes, want)) break;
      block->offset = at;
      block->filled = want;
    }
    view->newest = found;
    const ViewBlock* block = &view->blocks[found];
    uLong take = static_cast<uLong>(block->offset + block->filled - at);
    if (take > size - done) take = size - done;
    memcpy(out + done, block->bytes + (at - block->offset), take);
    done += take;
    view->position += take;
  }
  return done;
}

uLong ZCALLBACK ViewWrite(voidpf, voidpf, const void*, uLong) {
  return 0;  // the view is read-only
}

ZPOS64_T ZCALLBACK ViewTell(voidpf, voidpf stream) {
  return static_cast<ZPOS64_T>(static_cast<FileView*>(stream)->position);
}

long ZCALLBACK ViewSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  FileView* view = static_cast<FileView*>(stream);
  int64_t base = 0;
  if (origin == ZLIB_FILEFUNC_SEEK_CUR) {
    base = view->position;
  } else if (origin == ZLIB_FILEFUNC_SEEK_END) {
    base = view->visibleBytes;
  } else if (origin != ZLIB_FILEFUNC_SEEK_SET) {
    return -1;
  }
  // minizip steps back with an unsigned offset that wraps around: taken as
  // a signed step. A target outside the view is refused.
  int64_t step = static_cast<int64_t>(offset);
  if (step > view->visibleBytes || step < -view->visibleBytes) return -1;
  int64_t target = base + step;
  if (target < 0 || target > view->visibleBytes) return -1;
  view->position = target;
  if (origin == ZLIB_FILEFUNC_SEEK_SET) gViewBounds.placed = target;
  return 0;
}

int ZCALLBACK ViewClose(voidpf, voidpf stream) {
  FileView* view = static_cast<FileView*>(stream);
  ClosePlainFile(view->file);
  free(view);
  return 0;
}

int ZCALLBACK ViewError(voidpf, voidpf stream) { return static_cast<FileView*>(stream)->failed; }

}  // namespace

unzFile OpenArchiveView(const Text& path, int64_t start, int64_t end) {
  gViewBounds.start = start;
  gViewBounds.end = end;
  zlib_filefunc64_def functions;
  functions.zopen64_file = ViewOpen;
  functions.zread_file = ViewRead;
  functions.zwrite_file = ViewWrite;
  functions.ztell64_file = ViewTell;
  functions.zseek64_file = ViewSeek;
  functions.zclose_file = ViewClose;
  functions.zerror_file = ViewError;
  functions.opaque = &gViewBounds;
  return unzOpen2_64(path.c_str(), &functions);
}

int64_t LastViewPlacement() { return gViewBounds.placed; }
