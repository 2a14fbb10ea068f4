// Extraction with writer threads: the reading thread plans each entry and
// makes its folders, and hands each new file to a writer thread, which
// reads its data from the archive, inflates and checks it, and creates and
// writes it. Creating files is what unpacking many small files waits for
// most, and inflating is most of the rest: both are shared among the
// writers. Every step is still reported in entry order.
#include <ctype.h>
#include <string.h>

#include "archive/archive_reader.h"
#include "archive/extraction.h"
#include "archive/extraction_run.h"
#include "archive/part_file.h"
#include "runtime/file.h"
#include "runtime/memory.h"
#include "runtime/system.h"
#include "runtime/thread.h"

namespace {

// The part-file slot of writer thread 0 (part_file.h); writer n has the
// next n after it.
const int32_t kFirstWriterPartSlot = kReaderPartSlot + 1;
static_assert(kFirstWriterPartSlot + kMaxExtractionWriters <= kPartSlotCount,
              "every writer thread has a part-file slot of its own");

// Entries whose step is not yet reported, oldest first, in a ring of
// kMaxFilesInFlight slots: each either finished on the reading thread
// (handedOff 0, result known) or handed to a writer, which posts the slot's
// semaphore when its file is written. Slot n of the ring is entry
// n % kMaxFilesInFlight of the run's pending sequence.
struct PendingEntry {
  int64_t index;
  Text name;
  int utf8Name;
  int result;
  int32_t systemError;  // of a result found on the reading thread
  int handedOff;
  HandedOffFile file;
  Text key;  // PathKey of file.target, while handed off
  intptr_t written;  // semaphore
};

// Each writer has a queue of its own, and every small file of one folder
// goes to the same writer: files created in one folder at the same time
// only wait for each other in the system, while files in different folders
// are created side by side. A large file costs its inflating far more than
// its creating, so it goes where the least data waits.
struct WriterJobs {
  int32_t slots[kMaxFilesInFlight];  // handed-off slots, in order
  int64_t queued;                    // by the reading thread, under lock
  int64_t taken;                     // by the writer, under lock
  int64_t bytesWaiting;              // of the queued files not yet written, under lock
  intptr_t work;                     // semaphore: one count per queued job, and one to stop
  intptr_t archive;                  // the writer's own reading handle of the archive
};

struct WriterQueue {
  PendingEntry entries[kMaxFilesInFlight];
  int64_t oldest;         // the first entry not yet reported
  int64_t next;           // where the next entry goes
  WriterJobs writers[kMaxExtractionWriters];
  int32_t writerCount;
  int stopping;  // under lock
  intptr_t lock;
};
// The queue of the run with writers going on, which lives on the stack of
// the thread running it; null between runs.
WriterQueue* gQueue = nullptr;

int32_t WriterThread(int32_t writer) {
  WriterJobs* jobs = &gQueue->writers[writer];
  for (;;) {
    WaitForSemaphore(jobs->work, -1);
    TakeLock(gQueue->lock);
    if (jobs->taken == jobs->queued) {
      int stop = gQueue->stopping;
      ReleaseLock(gQueue->lock);
      if (stop) return 0;
      continue;
    }
    int32_t slot = jobs->slots[jobs->taken % kMaxFilesInFlight];
    ++jobs->taken;
    ReleaseLock(gQueue->lock);
    PendingEntry* entry = &gQueue->entries[slot];
    entry->result = WriteHandedOffFile(&entry->file, jobs->archive, kFirstWriterPartSlot + writer);
    TakeLock(gQueue->lock);
    jobs->bytesWaiting -= static_cast<int64_t>(entry->file.size);
    ReleaseLock(gQueue->lock);
    PostSemaphore(entry->written);
  }
}

int IsSeparator(char c) { return c == '/' || c == '\\'; }

// A path in the form in which it is compared with others: its components
// joined by "/", letters in lower case, each component without trailing
// dots and spaces (which Windows drops), and no component left empty by
// that, such as "" between two separators or ".". Every spelling of one
// path gives the same key ("a//b" and "a/./b" are "a/b"); different paths
// may share a key too, which only makes the reading thread wait. The empty
// text when memory runs out.
Text PathKey(const Text& path) {
  char* key = static_cast<char*>(AllocateBlock(path.Length() + 1));
  if (key == nullptr) return Text();
  int length = 0;
  int start = 0;
  for (int i = 0; i <= path.Length(); ++i) {
    if (i < path.Length() && !IsSeparator(path.At(i))) continue;
    int end = i;
    while (end > start && (path.At(end - 1) == '.' || path.At(end - 1) == ' ')) --end;
    if (end > start && length > 0) key[length++] = '/';
    for (int k = start; k < end; ++k) {
      key[length++] = static_cast<char>(tolower(static_cast<unsigned char>(path.At(k))));
    }
    start = i + 1;
  }
  Text result(key, length);
  FreeBlock(key);
  return result;
}

// Whether two keys name the same path, or one lies inside the other.
// Compared from the end of the shorter, where paths below one destination
// differ.
int KeysMeet(const Text& a, const Text& b) {
  int shorter = a.Length() < b.Length() ? a.Length() : b.Length();
  if (a.Length() != b.Length() && (a.Length() > shorter ? a.At(shorter) : b.At(shorter)) != '/') {
    return 0;
  }
  for (int i = shorter - 1; i >= 0; --i) {
    if (a.At(i) != b.At(i)) return 0;
  }
  return 1;
}

int MeetsFileInFlight(void*, const Text& target) {
  Text key;
  for (int64_t n = gQueue->oldest; n < gQueue->next; ++n) {
    const PendingEntry& entry = gQueue->entries[n % kMaxFilesInFlight];
    if (!entry.handedOff) continue;
    if (key.IsEmpty()) key = PathKey(target);
    // A key that memory could not hold meets everything.
    if (key.IsEmpty() || entry.key.IsEmpty() || KeysMeet(entry.key, key)) return 1;
  }
  return 0;
}

// The writer for a file of size bytes: chosen by its folder's part of the
// key, or for a large file the one with the least data waiting. Under the
// lock.
int32_t WriterFor(const Text& key, uint64_t size) {
  if (size > static_cast<uint64_t>(kSpreadFileBytes)) {
    int32_t least = 0;
    for (int32_t i = 1; i < gQueue->writerCount; ++i) {
      if (gQueue->writers[i].bytesWaiting < gQueue->writers[least].bytesWaiting) least = i;
    }
    return least;
  }
  int end = key.LastIndexOf('/');
  uint32_t hash = 2166136261u;
  for (int i = 0; i < end; ++i) hash = (hash ^ static_cast<unsigned char>(key.At(i))) * 16777619u;
  return static_cast<int32_t>(hash % static_cast<uint32_t>(gQueue->writerCount));
}

// Reports the oldest pending entry, waiting for its file when wait is
// nonzero; 0 when it is not written yet (and wait is 0) or none is pending.
int ReportOldest(int wait, ExtractionCallback callback, void* context, ExtractionReport* report) {
  if (gQueue->oldest == gQueue->next) return 0;
  PendingEntry* entry = &gQueue->entries[gQueue->oldest % kMaxFilesInFlight];
  if (entry->handedOff && !WaitForSemaphore(entry->written, wait ? -1 : 0)) return 0;
  int32_t systemError = entry->handedOff ? entry->file.systemError : entry->systemError;
  ReportEntry(entry->index, entry->name, entry->utf8Name, entry->result,
              entry->result == 0 ? 0 : systemError, callback, context, report);
  entry->handedOff = 0;
  entry->file.target = Text();
  entry->key = Text();
  ++gQueue->oldest;
  return 1;
}

void ReportAll(ExtractionCallback callback, void* context, ExtractionReport* report) {
  while (ReportOldest(1, callback, context, report)) {
  }
}

// Stops the started writers once their queues are empty, and frees what
// StartWriters made.
void StopWriters(intptr_t* threads, int32_t started) {
  TakeLock(gQueue->lock);
  gQueue->stopping = 1;
  ReleaseLock(gQueue->lock);
  for (int32_t i = 0; i < started; ++i) PostSemaphore(gQueue->writers[i].work);
  for (int32_t i = 0; i < started; ++i) WaitForThread(threads[i], -1);
  for (int i = 0; i < kMaxFilesInFlight; ++i) {
    DisposeSemaphore(gQueue->entries[i].written);
    gQueue->entries[i].written = 0;
    gQueue->entries[i].name = Text();
  }
  for (int i = 0; i < kMaxExtractionWriters; ++i) {
    DisposeSemaphore(gQueue->writers[i].work);
    gQueue->writers[i].work = 0;
    ClosePlainFile(gQueue->writers[i].archive);
    gQueue->writers[i].archive = 0;
  }
  DisposeLock(gQueue->lock);
  gQueue->lock = 0;
}

// Starts up to writers threads; returns how many run (0: none, and nothing
// to stop).
int32_t StartWriters(int32_t writers, intptr_t* threads) {
  if (writers > kMaxExtractionWriters) writers = kMaxExtractionWriters;
  gQueue->oldest = gQueue->next = 0;
  gQueue->stopping = 0;
  // Every handle 0 first, so that StopWriters frees exactly what was made.
  for (PendingEntry& entry : gQueue->entries) entry.written = 0;
  for (WriterJobs& jobs : gQueue->writers) jobs.work = jobs.archive = 0;
  gQueue->lock = MakeLock();
  int made = gQueue->lock != 0;
  for (int i = 0; made && i < kMaxFilesInFlight; ++i) {
    gQueue->entries[i].handedOff = 0;
    gQueue->entries[i].written = MakeSemaphore(0);
    made = gQueue->entries[i].written != 0;
  }
  for (int i = 0; made && i < writers; ++i) {
    gQueue->writers[i].queued = gQueue->writers[i].taken = gQueue->writers[i].bytesWaiting = 0;
    gQueue->writers[i].work = MakeSemaphore(0);
    gQueue->writers[i].archive = OpenArchiveFileForWriter();
    made = gQueue->writers[i].work != 0 && gQueue->writers[i].archive != 0;
  }
  int32_t started = 0;
  while (made && started < writers) {
    threads[started] = StartThread(WriterThread, started);
    if (threads[started] == 0) break;
    ++started;
  }
  if (started == 0) StopWriters(threads, 0);
  gQueue->writerCount = started;
  return started;
}

// One entry with the writers running: extracted, or handed off, and queued
// for its report.
void ExtractWithWriters(const Text& destination, int32_t, int64_t index, const Text& name,
                        int utf8Name, ExtractionCallback callback, void* context,
                        ExtractionReport* report) {
  // A free slot: the oldest entries are reported until there is one.
  while (gQueue->next - gQueue->oldest == kMaxFilesInFlight) {
    ReportOldest(1, callback, context, report);
  }
  if (report->stoppedBy != 0) {
    // A full disk stopped the run meanwhile: this entry is not tried.
    ++report->skipped;
    return;
  }
  int32_t slot = static_cast<int32_t>(gQueue->next % kMaxFilesInFlight);
  PendingEntry* entry = &gQueue->entries[slot];
  int handedOff = 0;
  int result = ExtractOrHandOffCurrentEntry(destination, MeetsFileInFlight, nullptr, &entry->file,
                                            &handedOff);
  if (result == kReaderWritersFirst) {
    ReportAll(callback, context, report);
    result = ExtractOrHandOffCurrentEntry(destination, MeetsFileInFlight, nullptr, &entry->file,
                                          &handedOff);
  }
  entry->index = index;
  entry->name = name;
  entry->utf8Name = utf8Name;
  entry->result = result;
  entry->systemError = result == 0 ? 0 : LastEntrySystemError();
  entry->handedOff = handedOff;
  ++gQueue->next;
  if (handedOff) {
    entry->key = PathKey(entry->file.target);
    TakeLock(gQueue->lock);
    WriterJobs* jobs = &gQueue->writers[WriterFor(entry->key, entry->file.size)];
    jobs->slots[jobs->queued % kMaxFilesInFlight] = slot;
    ++jobs->queued;
    jobs->bytesWaiting += static_cast<int64_t>(entry->file.size);
    ReleaseLock(gQueue->lock);
    PostSemaphore(jobs->work);
  }
  // A full disk met here is reported before the next entry is begun, once
  // the files before it are written, so that a run told to stop there does.
  if (!handedOff && result != 0 && IsDiskFull(entry->systemError)) {
    ReportAll(callback, context, report);
    return;
  }
  // Whatever is finished is reported at once, in order.
  while (ReportOldest(0, callback, context, report)) {
  }
}

// The entries with writers threads, their queue on this thread's stack for
// the run; on this thread alone when none can be started.
void RunEntriesWithWriters(const Text& destination, int32_t, int32_t writers,
                           ExtractionCallback callback, void* context, ExtractionReport* report) {
  WriterQueue queue;
  gQueue = &queue;
  intptr_t threads[kMaxExtractionWriters];
  int32_t started = StartWriters(writers, threads);
  if (started > 0) {
    VisitEntries(destination, kRunExtract, ExtractWithWriters, callback, context, report);
    ReportAll(callback, context, report);
    StopWriters(threads, started);
  } else {
    VisitEntries(destination, kRunExtract, ExtractOrTest, callback, context, report);
  }
  gQueue = nullptr;
}

}  // namespace

int ExtractArchiveWithWriters(const Text& archivePath, const Text& destination, int32_t writers,
                              int32_t searchBytes, ExtractionCallback callback, void* context,
                              ExtractionReport* report) {
  return RunExtraction(archivePath, destination, kRunExtract, writers, searchBytes,
                       RunEntriesWithWriters, callback, context, report);
}
