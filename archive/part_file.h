// Part files: every extracted file is written under a part name in its
// target's folder and takes the target's name only once it is whole, so a
// torn file never carries a real name. A part name is ".~vz" and eight
// random letters or digits, created exclusively and drawn again when taken:
// no stored name and no file planted in the folder can block it.
//
// Each thread that writes files announces its part file in a slot of its
// own (0 for the reading thread, 1 + n for writer thread n), in buffers made
// once and a flag, so that an interrupt can remove every part in flight
// without a lock or an allocation. A run also removes, once per folder it
// lands files in, the part files that an ended run left there.
#ifndef VEZOVUD_ARCHIVE_PART_FILE_H
#define VEZOVUD_ARCHIVE_PART_FILE_H

#include <stdint.h>

#include "runtime/text.h"

// A part name: kPartPrefix, then kPartMarkCount of the marks "0".."9" and
// "a".."z" (lower case only, so that Windows, which ignores case, draws from
// the same names).
const char kPartPrefix[] = ".~vz";
const int kPartPrefixBytes = 4;
const int kPartMarkCount = 8;
const int kPartNameBytes = kPartPrefixBytes + kPartMarkCount;

// Slots: the reading thread's, then one for each writer thread.
const int32_t kPartSlotCount = 17;
const int32_t kReaderPartSlot = 0;

// The part name with every mark "0": the last component of a pattern that
// CreatePartFile fills in, placed in the target's folder as the target is
// (LandingPath), so that it fits wherever such a name fits there.
Text PartNamePattern();

// 1 when name (one component) is a part name: kPartPrefix and kPartMarkCount
// marks, nothing else.
int IsPartFileName(const Text& name);

// Creates a new part file at pattern, a path that ends in PartNamePattern(),
// with its marks drawn anew from the system's random bytes; exclusively,
// never through a link, and drawn again while the name is taken. The file
// is announced in slot before this returns. The plain file (file.h), with its
// path in *part; 0 when none could be made: *systemError then holds the
// system's reason (0 when there is none, such as after
// RemovePartFilesInFlight, which keeps new part files from being made).
// Any thread, each with a slot of its own.
intptr_t CreatePartFile(const Text& pattern, int32_t slot, Text* part, int32_t* systemError);

// Ends slot's announcement: its part file has taken its target's name or
// has been removed.
void RetirePartFile(int32_t slot);

// Removes every announced part file, on any thread, inside a signal handler
// too: it takes no lock, allocates nothing and only deletes files by the
// names announced. From then on CreatePartFile makes no part file until
// AllowPartFiles.
void RemovePartFilesInFlight();
void AllowPartFiles();

// Removes the part files that an earlier run left in folder (which ends in
// a separator), the first time a run asks for that folder: one listing per
// folder and run, however it is spelt (folders are told apart by identity).
// Only names that IsPartFileName accepts, and of those only plain files of
// this user's (RemoveOwnPlainFile): a link, a folder or another user's file
// of that name stays. Nothing is removed from a folder whose identity cannot
// be had. The number of files removed. The reading thread only, as the run's
// files are written after it for each folder.
int64_t RemoveLeftPartFiles(const Text& folder);

// Starts a new run for RemoveLeftPartFiles: every folder may be looked
// through again. Frees what it remembered.
void ForgetLookedFolders();

#endif
