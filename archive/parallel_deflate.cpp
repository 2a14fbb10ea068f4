// Worker threads deflating whole files for the archiver's parallel path.
// Items are taken in list order; each finished item waits in a ring slot
// until the writer has copied its stream. The lock guards the next item to
// take, the slots' done marks and the memory held by finished streams; a slot
// belongs to its worker from taking to done, then to the writer until
// FinishDeflatedItem. Two semaphores count the items the workers may still
// run ahead, and the items finished.
#include "archive/parallel_deflate.h"

#include <string.h>
#include <zlib.h>

#include "archive/folder_archiver.h"
#include "archive/folder_walk.h"
#include "runtime/file.h"
#include "runtime/filesystem.h"
#include "runtime/file_info.h"
#include "runtime/memory.h"
#include "runtime/system.h"
#include "runtime/thread.h"

namespace {

const int kRawWindowBits = -MAX_WBITS;  // a raw stream, as the archive holds it
const int kDeflateMemLevel = 8;

// One item between the worker that takes it and the writer.
struct ItemSlot {
  int32_t index;  // the item in the slot
  int32_t done;
  DeflatedItem item;
  unsigned char* memory;  // the whole stream when it stayed in memory, else null
  int32_t spilled;        // 1 when the stream lies in the item's spill file
};

// What each worker owns for its whole life.
struct Worker {
  z_stream stream;
  int streamReady;
  unsigned char* input;   // kReadChunkBytes
  unsigned char* output;  // kStreamMemoryBytes
  intptr_t thread;
};

struct DeflateRun {
  const ListedItem* items;
  int32_t count;
  Text spillBase;
  intptr_t lock;
  intptr_t room;      // items the workers may still take ahead of the writer
  intptr_t finished;  // one count for every item done
  int32_t next;       // the next item to take
  int64_t heldBytes;  // memory held by finished streams
  ItemSlot* slots;    // kRunAheadItems of them
  Worker workers[kMaxDeflateWorkers];
  int32_t workerCount;
  unsigned char* copyBuffer;  // the writer's, for reading spill files back
};

DeflateRun gRun;

ItemSlot* SlotOf(int32_t index) { return &gRun.slots[index % kRunAheadItems]; }

Text SpillName(int32_t index) { return gRun.spillBase + DecimalText(index); }

// The stream being made: where its bytes go once the output block is full.
struct StreamState {
  int32_t index;
  intptr_t spill;   // the open spill file, or 0
  int64_t written;  // bytes moved to the spill file
  int failed;       // the spill file could not be created or written
  int32_t reason;   // the system's reason for that
};

// Moves the filled part of the output block to the spill file, creating it
// first, and empties the block.
void SpillOutput(Worker* worker, StreamState* state) {
  int32_t filled = kStreamMemoryBytes - static_cast<int32_t>(worker->stream.avail_out);
  if (state->spill == 0 && !state->failed) {
    state->spill = CreateNewPlainFile(SpillName(state->index));
    if (state->spill == 0) {
      state->failed = 1;
      state->reason = LastSystemError();
    }
  }
  if (state->spill != 0 && WritePlainFile(state->spill, worker->output, filled) != filled &&
      !state->failed) {
    state->failed = 1;
    state->reason = LastSystemError();
  }
  state->written += filled;
  worker->stream.next_out = worker->output;
  worker->stream.avail_out = kStreamMemoryBytes;
}

// Deflates length bytes (flush Z_NO_FLUSH) or ends the stream (Z_FINISH).
// 1 on success.
int DeflateBytes(Worker* worker, StreamState* state, unsigned char* bytes, int32_t length,
                 int flush) {
  worker->stream.next_in = bytes;
  worker->stream.avail_in = static_cast<uInt>(length);
  for (;;) {
    if (worker->stream.avail_out == 0) SpillOutput(worker, state);
    int result = deflate(&worker->stream, flush);
    if (result == Z_STREAM_END) return 1;
    if (result != Z_OK && result != Z_BUF_ERROR) return 0;
    // Without Z_FINISH, input taken in full is enough: zlib keeps what it
    // has not yet put out for the next call, as it does under minizip.
    if (flush == Z_NO_FLUSH && worker->stream.avail_in == 0) return 1;
  }
}

// Reads the file of listed in kReadChunkBytes chunks and deflates it into the
// worker's block, spilling what outgrows it. Fills slot->item, and slot's
// memory or spill mark, except for problems found before the stream began.
void DeflateFile(Worker* worker, int32_t index, const ListedItem& listed, ItemSlot* slot) {
  DeflatedItem* item = &slot->item;
  Text path(listed.path);
  // A pipe would give no data, or wait for a writer; a device, endless data.
  if (listed.kind == kPathSpecial) {
    item->problem = kProblemSpecialFile;
    return;
  }
  intptr_t file = OpenPlainFileForReading(path);
  if (file == 0) {
    item->problem = kProblemUnreadable;
    item->reason = LastSystemError();
    return;
  }
  FileState before;
  int settled = GetPlainFileState(file, &before, 1);
  if (settled == 0) {
    item->problem = kProblemUnreadable;
    item->reason = LastSystemError();
  } else if (settled < 0 || !listed.known || !SameIdentity(before.identity, listed.identity)) {
    // Another file put under the name since the walk is not the one listed,
    // nor one reached through a folder swapped for a link; a file changing
    // all the time has no one version to store.
    item->problem = kProblemChanged;
  } else if (before.size >= kMaxEntryBytes) {
    item->problem = kProblemTooLarge;
  }
  if (item->problem != 0) {
    ClosePlainFile(file);
    return;
  }
  int64_t size = before.size;
  StreamState state = {index, 0, 0, 0, 0};
  int deflateOk = deflateReset(&worker->stream) == Z_OK;
  worker->stream.next_out = worker->output;
  worker->stream.avail_out = kStreamMemoryBytes;
  uLong crc = crc32(0L, nullptr, 0);
  int64_t total = 0;
  int32_t readReason = 0;
  while (deflateOk && total <= size) {
    int32_t got = ReadPlainFile(file, worker->input, kReadChunkBytes);
    if (got < kReadChunkBytes) readReason = LastSystemError();
    if (got <= 0) break;
    total += got;
    // More data than the file had: it grows; reading stops.
    if (total > size) break;
    crc = crc32(crc, worker->input, static_cast<uInt>(got));
    deflateOk = DeflateBytes(worker, &state, worker->input, got, Z_NO_FLUSH);
  }
  if (deflateOk) deflateOk = DeflateBytes(worker, &state, nullptr, 0, Z_FINISH);
  FileState after;
  int unchanged = GetPlainFileState(file, &after, 0) == 1 && SameFileState(before, after);
  ClosePlainFile(file);

  int32_t filled = kStreamMemoryBytes - static_cast<int32_t>(worker->stream.avail_out);
  if (!deflateOk) {
    item->problem = kProblemEntryFailed;
  } else if (!unchanged || total > size) {
    // Written over in place, truncated and filled again, or grown: the
    // stream holds bytes of more than one version.
    item->problem = kProblemChanged;
  } else if (total < size) {
    // Short of a size that still stands: the reads failed.
    item->problem = kProblemUnreadable;
    item->reason = readReason;
  } else if (state.spill == 0) {
    // The whole stream is in the block: it stays in memory while the
    // streams waiting for the writer leave room for it.
    TakeLock(gRun.lock);
    int fits = gRun.heldBytes + filled <= kPendingMemoryBytes;
    if (fits) gRun.heldBytes += filled;
    ReleaseLock(gRun.lock);
    unsigned char* memory = fits ? static_cast<unsigned char*>(AllocateBlock(filled)) : nullptr;
    if (memory != nullptr) {
      memcpy(memory, worker->output, static_cast<size_t>(filled));
      slot->memory = memory;
    } else {
      if (fits) {
        TakeLock(gRun.lock);
        gRun.heldBytes -= filled;
        ReleaseLock(gRun.lock);
      }
      SpillOutput(worker, &state);
    }
  } else {
    SpillOutput(worker, &state);
  }
  if (state.spill != 0) ClosePlainFile(state.spill);
  if (item->problem == 0 && state.failed) {
    item->problem = kProblemEntryFailed;
    item->reason = state.reason;
  }
  if (item->problem != 0) {
    if (state.spill != 0) RemoveFile(SpillName(index));
    return;
  }
  slot->spilled = state.spill != 0;
  item->text = worker->stream.data_type == Z_TEXT;
  item->crc = static_cast<uint32_t>(crc);
  item->size = size;
  item->streamBytes = slot->spilled ? state.written : filled;
  item->writeTime = before.writeTime;
}

int32_t DeflateWorker(int32_t number) {
  Worker* worker = &gRun.workers[number];
  for (;;) {
    WaitForSemaphore(gRun.room, -1);
    TakeLock(gRun.lock);
    int32_t index = gRun.next;
    if (index < gRun.count) gRun.next++;
    ReleaseLock(gRun.lock);
    if (index >= gRun.count) {
      // The room taken goes back, so that every other worker sees the end.
      PostSemaphore(gRun.room);
      return 0;
    }
    ItemSlot* slot = SlotOf(index);
    slot->index = index;
    const ListedItem& listed = gRun.items[index];
    if (!IsPathSeparator(Text(listed.path).Last())) DeflateFile(worker, index, listed, slot);
    TakeLock(gRun.lock);
    slot->done = 1;
    ReleaseLock(gRun.lock);
    PostSemaphore(gRun.finished);
  }
}

void ClearSlot(ItemSlot* slot) {
  if (slot->memory != nullptr) {
    TakeLock(gRun.lock);
    gRun.heldBytes -= slot->item.streamBytes;
    ReleaseLock(gRun.lock);
    FreeBlock(slot->memory);
  }
  if (slot->spilled) RemoveFile(SpillName(slot->index));
  ItemSlot empty = {0, 0, {0, 0, 0, 0, 0, 0, 0}, nullptr, 0};
  *slot = empty;
}

void FreeRun() {
  for (int32_t k = 0; k < gRun.workerCount; ++k) {
    Worker* worker = &gRun.workers[k];
    if (worker->streamReady) deflateEnd(&worker->stream);
    FreeBlock(worker->input);
    FreeBlock(worker->output);
  }
  FreeBlock(gRun.slots);
  FreeBlock(gRun.copyBuffer);
  DisposeLock(gRun.lock);
  DisposeSemaphore(gRun.room);
  DisposeSemaphore(gRun.finished);
  gRun.items = nullptr;
  gRun.count = 0;
  gRun.spillBase = Text();
  gRun.slots = nullptr;
  gRun.copyBuffer = nullptr;
  gRun.lock = 0;
  gRun.room = 0;
  gRun.finished = 0;
  gRun.workerCount = 0;
}

}  // namespace

int32_t StartDeflateWorkers(const ListedItem* items, int32_t count, const Text& spillBase,
                            int32_t workers) {
  if (workers > kMaxDeflateWorkers) workers = kMaxDeflateWorkers;
  gRun.items = items;
  gRun.count = count;
  gRun.spillBase = spillBase;
  gRun.next = 0;
  gRun.heldBytes = 0;
  gRun.workerCount = 0;
  gRun.lock = MakeLock();
  gRun.room = MakeSemaphore(kRunAheadItems);
  gRun.finished = MakeSemaphore(0);
  gRun.slots = static_cast<ItemSlot*>(AllocateBlock(sizeof(ItemSlot) * kRunAheadItems));
  gRun.copyBuffer = static_cast<unsigned char*>(AllocateBlock(kReadChunkBytes));
  if (gRun.lock == 0 || gRun.room == 0 || gRun.finished == 0 || gRun.slots == nullptr ||
      gRun.copyBuffer == nullptr) {
    FreeRun();
    return 0;
  }
  // Each worker gets its buffers and stream before it starts; one that
  // cannot have them is not started.
  for (int32_t k = 0; k < workers; ++k) {
    Worker* worker = &gRun.workers[gRun.workerCount];
    Worker fresh = {};
    *worker = fresh;
    worker->input = static_cast<unsigned char*>(AllocateBlock(kReadChunkBytes));
    worker->output = static_cast<unsigned char*>(AllocateBlock(kStreamMemoryBytes));
    worker->streamReady =
        deflateInit2(&worker->stream, kCompressionLevel, Z_DEFLATED, kRawWindowBits,
                     kDeflateMemLevel, Z_DEFAULT_STRATEGY) == Z_OK;
    gRun.workerCount++;
    if (worker->input != nullptr && worker->output != nullptr && worker->streamReady) {
      worker->thread = StartThread(DeflateWorker, gRun.workerCount - 1);
    }
    if (worker->thread == 0) break;
  }
  int32_t started = 0;
  for (int32_t k = 0; k < gRun.workerCount; ++k) {
    if (gRun.workers[k].thread != 0) started++;
  }
  if (started == 0) FreeRun();
  return started;
}

void WaitForDeflatedItem(int32_t index, DeflatedItem* item) {
  ItemSlot* slot = SlotOf(index);
  for (;;) {
    TakeLock(gRun.lock);
    int done = slot->done;
    ReleaseLock(gRun.lock);
    if (done) break;
    // Every item done counts once; a count taken for a later item only
    // means that item needs no wait when its turn comes.
    WaitForSemaphore(gRun.finished, -1);
  }
  *item = slot->item;
}

int CopyDeflatedStream(int32_t index, StreamSink sink, void* context) {
  ItemSlot* slot = SlotOf(index);
  int64_t bytes = slot->item.streamBytes;
  if (slot->memory != nullptr) return sink(context, slot->memory, static_cast<int32_t>(bytes));
  if (!slot->spilled) return 0;
  intptr_t spill = OpenPlainFileForReading(SpillName(index));
  int ok = spill != 0;
  int64_t copied = 0;
  while (ok && copied < bytes) {
    int64_t left = bytes - copied;
    int32_t want = left < kReadChunkBytes ? static_cast<int32_t>(left) : kReadChunkBytes;
    int32_t got = ReadPlainFile(spill, gRun.copyBuffer, want);
    ok = got == want && sink(context, gRun.copyBuffer, got);
    copied += got;
  }
  ClosePlainFile(spill);
  return ok;
}

void FinishDeflatedItem(int32_t index) {
  ClearSlot(SlotOf(index));
  PostSemaphore(gRun.room);
}

void StopDeflateWorkers() {
  if (gRun.workerCount == 0) return;
  TakeLock(gRun.lock);
  gRun.next = gRun.count;
  ReleaseLock(gRun.lock);
  // A worker waiting for room wakes, sees the end and passes it on.
  PostSemaphore(gRun.room);
  for (int32_t k = 0; k < gRun.workerCount; ++k) {
    if (gRun.workers[k].thread != 0) WaitForThread(gRun.workers[k].thread, -1);
  }
  // Items done but never finished by the writer.
  for (int32_t k = 0; k < kRunAheadItems; ++k) ClearSlot(&gRun.slots[k]);
  FreeRun();
}
