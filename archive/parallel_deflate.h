// Deflating whole files on worker threads, ahead of the one thread that
// writes them into the archive in list order. Each worker feeds zlib exactly
// as minizip does for the serial archiver (level 9, raw stream, memLevel 8,
// the default strategy, 102,400-byte chunks), so the streams are the same
// bytes. Module-wide state: one run at a time, owned by the writing thread
// between StartDeflateWorkers and StopDeflateWorkers.
#ifndef VEZOVUD_ARCHIVE_PARALLEL_DEFLATE_H
#define VEZOVUD_ARCHIVE_PARALLEL_DEFLATE_H

#include <stdint.h>

#include "archive/folder_walk.h"
#include "runtime/text.h"

const int32_t kMaxDeflateWorkers = 16;
// A stream growing beyond this is written on to a spill file; a finished
// stream stays in memory only while all those waiting for the writer take
// no more than kPendingMemoryBytes together.
const int32_t kStreamMemoryBytes = 1024 * 1024;
const int32_t kPendingMemoryBytes = 8 * 1024 * 1024;
// Workers take an item only while it lies fewer than this many items ahead
// of the one the writer waits for.
const int32_t kRunAheadItems = 1024;

// What a worker made of one item: with problem 0 a stream ready to be
// copied, except for a folder entry (its path ends in the separator), which
// is passed over.
struct DeflatedItem {
  int32_t problem;      // 0, or the ArchiverProblem that kept the file out
  int32_t reason;       // the system's reason with the problem, when a call failed; else 0
  int32_t text;         // 1 when zlib judged the data to be text
  uint32_t crc;         // CRC-32 of the file's data
  int64_t size;         // the file's bytes
  int64_t streamBytes;  // the deflated stream's bytes
  int64_t writeTime;    // the file's last-write time (runtime/file_info.h), as read
};

// Starts up to workers threads (at most kMaxDeflateWorkers) on items[0 ..
// count), which must stay unchanged until StopDeflateWorkers. Spill files
// are created exclusively as spillBase followed by the item's index, and
// removed again in every case. Returns the number of workers started; with
// 0 nothing is left to stop.
int32_t StartDeflateWorkers(const ListedItem* items, int32_t count, const Text& spillBase,
                            int32_t workers);

// Waits until item index is done and fills *item. The writer takes items in
// order, 0, 1, 2 ..., each once, and ends each with FinishDeflatedItem.
void WaitForDeflatedItem(int32_t index, DeflatedItem* item);

// Receives a stream's bytes in order; 1 when it took them, 0 on a failure.
typedef int (*StreamSink)(void* context, const void* bytes, int32_t length);

// Hands the stream of the waited-for item index to sink, all of it. 1 when
// every byte went to sink; 0 when the sink failed or the spill file could
// not be read back whole.
int CopyDeflatedStream(int32_t index, StreamSink sink, void* context);

// Frees what item index holds (memory, spill file) and lets the workers
// move one item further.
void FinishDeflatedItem(int32_t index);

// Lets the workers end once their current item is done, waits for them,
// and frees everything, spill files of items never finished included.
void StopDeflateWorkers();

#endif
