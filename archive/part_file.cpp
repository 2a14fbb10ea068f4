// Part files: their names, their creation with the announcement that an
// interrupt reads, and the removal of those that ended runs left. The slots
// are written by their own threads and read by whichever thread an
// interrupt meets; the folders already looked through belong to the
// reading thread.
#include "archive/part_file.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/random.h"
#include "runtime/system.h"

namespace {

const char kPartMarks[] = "0123456789abcdefghijklmnopqrstuvwxyz";
const uint32_t kPartMarkChoices = 36;
// Marks taken from one 32-bit random number: 36^4 fits it many times over,
// so each mark is as good as evenly drawn.
const int kMarksPerNumber = 4;
// Draws before giving up: a name is taken by chance once in 36^8 draws, so
// many taken names mean a folder that refuses new files some other way.
const int kPartDraws = 16;
// A listing that finds the part names among a folder's names.
const char kPartListingPattern[] = ".~vz????????";

// One thread's announcement. The owner writes a candidate name into one of
// two buffers, says it is creating that file, creates it, and then says it
// is created (or, when the name was taken, that it is idle). A created
// part's buffer is left alone until the part is retired: the next name
// goes into the other one. The owner looks at gStopped before it writes a
// buffer, and RemovePartFilesInFlight raises gStopped before it reads a
// state, so a buffer is never written while it is being read.
struct PartSlot {
  char* names[2];              // kSystemPathBytes each; made at first use, never freed
  int next;                    // the owner's: the buffer the next name goes into
  std::atomic<int32_t> state;  // kPartIdle, or kPartCreating or kPartCreated plus the buffer
};

const int32_t kPartIdle = 0;
const int32_t kPartCreating = 1;  // names[state - kPartCreating] is being created
const int32_t kPartCreated = 3;   // names[state - kPartCreated] is a part in flight
// How long an interrupt waits for a part file being created on another
// thread to be created or not. Past it, the thread is taken to be the
// interrupted one itself, frozen before or after its creating call.
const uint32_t kCreationWaitMilliseconds = 100;

PartSlot gSlots[kPartSlotCount];
std::atomic<int32_t> gStopped{0};

// The folders looked through in this run, by identity, in an open-addressed
// table of gLookedCapacity places (a power of two; an unused place has
// volume and object 0), and the last folder asked for as it was spelt, which
// spares a look at the disk for the next file in the same folder.
PathIdentity* gLooked = nullptr;
int64_t gLookedCount = 0;
int64_t gLookedCapacity = 0;
char* gLastLooked = nullptr;
const int64_t kFirstLookedCapacity = 64;

uint64_t HashOf(const PathIdentity& identity) {
  uint64_t h = identity.volume * 0x9E3779B97F4A7C15ull ^ identity.object;
  return h ^ (h >> 29);
}

int IsUnused(const PathIdentity& place) { return place.volume == 0 && place.object == 0; }

// Puts identity into table (capacity places, a power of two); 0 when it was
// there already.
int PutIdentity(PathIdentity* table, int64_t capacity, const PathIdentity& identity) {
  for (uint64_t i = HashOf(identity);; ++i) {
    PathIdentity& place = table[i & static_cast<uint64_t>(capacity - 1)];
    if (IsUnused(place)) {
      place = identity;
      return 1;
    }
    if (SameIdentity(place, identity)) return 0;
  }
}

// Whether identity is new to the run; it is remembered from now on. 0 also
// when memory is short: the folder is then not looked through.
int IsNewFolder(const PathIdentity& identity) {
  if (IsUnused(identity)) return 0;  // no folder has it; never stored
  if (2 * (gLookedCount + 1) > gLookedCapacity) {
    int64_t capacity = gLookedCapacity == 0 ? kFirstLookedCapacity : 2 * gLookedCapacity;
    PathIdentity* table = static_cast<PathIdentity*>(
        AllocateBlock(capacity * static_cast<int64_t>(sizeof(PathIdentity))));
    if (table == nullptr) return 0;
    for (int64_t i = 0; i < gLookedCapacity; ++i) {
      if (!IsUnused(gLooked[i])) PutIdentity(table, capacity, gLooked[i]);
    }
    FreeBlock(gLooked);
    gLooked = table;
    gLookedCapacity = capacity;
  }
  if (!PutIdentity(gLooked, gLookedCapacity, identity)) return 0;
  ++gLookedCount;
  return 1;
}

}  // namespace

Text PartNamePattern() {
  Text pattern = kPartPrefix;
  for (int i = 0; i < kPartMarkCount; ++i) pattern += kPartMarks[0];
  return pattern;
}

int IsPartFileName(const Text& name) {
  if (name.Length() != kPartNameBytes) return 0;
  if (memcmp(name.c_str(), kPartPrefix, kPartPrefixBytes) != 0) return 0;
  for (int i = kPartPrefixBytes; i < kPartNameBytes; ++i) {
    char c = name.At(i);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return 0;
  }
  return 1;
}

intptr_t CreatePartFile(const Text& pattern, int32_t slot, Text* part, int32_t* systemError) {
  *systemError = 0;
  if (slot < 0 || slot >= kPartSlotCount || pattern.Length() < kPartMarkCount) return 0;
  PartSlot* own = &gSlots[slot];
  for (int i = 0; i < 2; ++i) {
    if (own->names[i] == nullptr) {
      own->names[i] = static_cast<char*>(AllocateBlock(kSystemPathBytes));
      if (own->names[i] == nullptr) return 0;
    }
  }
  int stem = pattern.Length() - kPartMarkCount;
  for (int draw = 0; draw < kPartDraws; ++draw) {
    if (gStopped.load()) return 0;
    uint32_t random[kPartMarkCount / kMarksPerNumber] = {};
    FillWithSystemRandom(random, static_cast<int32_t>(sizeof random));
    Text candidate = pattern.Middle(0, stem);
    for (int i = 0; i < kPartMarkCount; ++i) {
      uint32_t& number = random[i / kMarksPerNumber];
      candidate += kPartMarks[number % kPartMarkChoices];
      number /= kPartMarkChoices;
    }
    int buffer = own->next;
    if (!CopySystemPath(candidate, own->names[buffer], kSystemPathBytes)) return 0;
    own->state.store(kPartCreating + buffer);
    intptr_t file = CreateNewPlainFile(candidate);
    if (file == 0) {
      int32_t reason = LastSystemError();
      own->state.store(kPartIdle);
      if (OwnPathKind(candidate) != kPathNothing) continue;  // taken: another draw
      *systemError = reason;
      return 0;
    }
    own->state.store(kPartCreated + buffer);
    own->next = buffer ^ 1;
    // Stopped meanwhile: the interrupt may have looked before the part was
    // created, so it goes here.
    if (gStopped.load()) {
      ClosePlainFile(file);
      RemoveFile(candidate);
      own->state.store(kPartIdle);
      return 0;
    }
    *part = candidate;
    return file;
  }
  return 0;
}

void RetirePartFile(int32_t slot) {
  if (slot >= 0 && slot < kPartSlotCount) gSlots[slot].state.store(kPartIdle);
}

void RemovePartFilesInFlight() {
  gStopped.store(1);
  for (PartSlot& slot : gSlots) {
    int32_t state = slot.state.load();
    uint32_t start = TickCount();
    while (state >= kPartCreating && state < kPartCreated &&
           TickCount() - start < kCreationWaitMilliseconds) {
      PauseMilliseconds(1);
      state = slot.state.load();
    }
    // Still being created: this very thread was interrupted around its
    // creating call, so the file is there or not at all. The name is a
    // fresh random one, nobody else's.
    if (state >= kPartCreated) {
      RemoveFileAtSystemPath(slot.names[state - kPartCreated]);
    } else if (state >= kPartCreating) {
      RemoveFileAtSystemPath(slot.names[state - kPartCreating]);
    }
  }
}

void AllowPartFiles() { gStopped.store(0); }

int64_t RemoveLeftPartFiles(const Text& folder) {
  if (gLastLooked != nullptr && strcmp(gLastLooked, folder.c_str()) == 0) return 0;
  PathIdentity identity = {0, 0};
  if (!GetPathIdentity(folder, &identity)) return 0;
  free(gLastLooked);
  gLastLooked = CopyToCString(folder);
  if (!IsNewFolder(identity)) return 0;  // looked through under another spelling
  int64_t removed = 0;
  intptr_t listing = OpenDirectoryListing(kAnyNumber, folder, kPartListingPattern);
  while (listing != 0 && NextEntry(listing)) {
    Text name = EntryName(listing);
    if (IsPartFileName(name) && RemoveOwnPlainFile(folder + name)) ++removed;
  }
  CloseDirectoryListing(listing);
  return removed;
}

void ForgetLookedFolders() {
  FreeBlock(gLooked);
  gLooked = nullptr;
  gLookedCount = 0;
  gLookedCapacity = 0;
  free(gLastLooked);
  gLastLooked = nullptr;
}
