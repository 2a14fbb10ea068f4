// The output file: stub image, then the temporary archive copied in chunks,
// then the 4-byte trailer, written to a part file of a random name that is
// renamed over the target once its length proves every byte reached the
// disk. The temporary archive lives in a private folder for the length of
// one job. What exists only for the job is noted as debris while it exists.
#include "pack/build_steps.h"

#include "archive/folder_archiver.h"
#include "archive/folder_walk.h"
#include "archive/output_layout.h"
#include "pack/prepare.h"
#include "runtime/directory.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/file_replace.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"
#include "runtime/process.h"
#include "runtime/random.h"
#include "runtime/system.h"

const char kPartNamePrefix[] = ".~vz";

namespace {

const char kPartNameLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
const char kTempArchivePrefix[] = "Vezovud";

// A part file open for writing: its file number, its name and its debris slot.
struct PartFile {
  intptr_t file;
  Text path;
  int32_t debris;
};

// The folder part of path, up to and including its last separator; the
// empty text for a bare name.
Text FolderPart(const Text& path) {
  Text name = FileNamePart(path);
  return path.Middle(0, path.Length() - name.Length());
}

// 1 when name is one that CreatePartFile draws.
int IsPartName(const Text& name) {
  int prefix = static_cast<int>(sizeof(kPartNamePrefix)) - 1;
  if (name.Length() != prefix + kPartNameRandomChars || name.Middle(0, prefix) != kPartNamePrefix) {
    return 0;
  }
  for (int i = prefix; i < name.Length(); ++i) {
    char c = name.At(i);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return 0;
  }
  return 1;
}

// Removes the part files that runs killed midway left in folder: those of
// our names that are plain files of this user's that no running process
// holds (RemoveFileLeftBehind). Links, folders and other users' files of
// such names are left as they are.
void RemovePartFilesLeftBehind(const Text& folder) {
  intptr_t listing = OpenDirectoryListing(kAnyNumber, folder.IsEmpty() ? Text(".") : folder,
                                          Text(kPartNamePrefix) + "*");
  if (listing == 0) return;
  while (NextEntry(listing)) {
    Text name = EntryName(listing);
    if (IsPartName(name)) RemoveFileLeftBehind(folder + name);
  }
  CloseDirectoryListing(listing);
}

// Creates a new part file beside target under a name drawn at random,
// exclusively and never through a link; a name that exists already, a
// planted file or link or a part file another run left, is passed over for
// another. Marked in use, and noted as debris, from the moment it exists.
// file 0 when none could be created (*reason: the system's reason).
PartFile CreatePartFile(const Text& target, int32_t* reason) {
  PartFile part = {0, Text(), -1};
  Text folder = FolderPart(target);
  RemovePartFilesLeftBehind(folder);
  for (int32_t tries = 0; tries < kPartNameTries; ++tries) {
    Text name = folder + kPartNamePrefix;
    for (int32_t i = 0; i < kPartNameRandomChars; ++i) {
      name += kPartNameLetters[RandomUpTo(static_cast<int32_t>(sizeof(kPartNameLetters)) - 2)];
    }
    HoldInterrupts(1);
    intptr_t file = CreateNewFileForWriting(kAnyNumber, name);
    *reason = LastSystemError();
    if (file != 0) {
      MarkFileInUse(file);
      part = {file, name, NoteDebris(name, kDebrisFile)};
    }
    HoldInterrupts(0);
    if (file != 0) return part;
    // Only a name that is taken is worth another draw.
    if (OwnPathKind(name) == kPathNothing) return part;
  }
  return part;
}

// Removes the part file and lets its debris slot go, in one step as an
// interrupt sees it.
void RemovePartFile(const PartFile& part) {
  HoldInterrupts(1);
  RemoveFile(part.path);
  ForgetDebris(part.debris);
  HoldInterrupts(0);
}

// Closes the part file, still open, and removes it: one made before the
// work that is given up.
void DiscardPartFile(const PartFile& part) {
  CloseFileNumber(part.file);
  RemovePartFile(part);
}

// Puts the complete part file in the target's place and lets its debris slot
// go, in one step as an interrupt sees it. 1 on success; else 0 (*reason:
// the system's reason), the part file still there.
int ReplacePartFile(const Text& target, const PartFile& part, int32_t* reason) {
  HoldInterrupts(1);
  int replaced = ReplaceFileWith(target, part.path);
  *reason = replaced ? 0 : LastSystemError();
  if (replaced) ForgetDebris(part.debris);
  HoldInterrupts(0);
  return replaced;
}

// Writes stub + archive + trailer into the open part file and closes it. 1
// when every byte went out, else 0 (*reason: the system's reason).
int WriteOutput(const BuildRequest& request, intptr_t archive, int64_t archiveBytes,
                const PartFile& part, int32_t* reason) {
  intptr_t output = part.file;
  int ok = WriteBytes(output, request.stubImage, request.stubBytes) == request.stubBytes;
  char* chunk = static_cast<char*>(AllocateBlock(kCopyChunkBytes));
  if (chunk == nullptr) ok = 0;
  int64_t copied = 0;
  while (ok && copied < archiveBytes) {
    int64_t left = archiveBytes - copied;
    int32_t want = left < kCopyChunkBytes ? static_cast<int32_t>(left) : kCopyChunkBytes;
    int32_t got = ReadBytes(archive, chunk, want);
    if (got != want || WriteBytes(output, chunk, got) != got) ok = 0;
    copied += got;
  }
  FreeBlock(chunk);
  if (ok) {
    ok = WriteInt32(output, static_cast<int32_t>(static_cast<uint32_t>(archiveBytes))) ==
         kTrailerBytes;
  }
  if (!ok) *reason = LastSystemError();
  CloseFileNumber(output);
  // The close flushes the last buffer; its length shows whether that worked.
  int64_t expected = static_cast<int64_t>(request.stubBytes) + archiveBytes + kTrailerBytes;
  if (ok && PathSize(part.path) != expected) {
    ok = 0;
    *reason = LastSystemError();
  }
  return ok;
}

// 1 when the output would lie inside the source folder: where the output's
// folder leads, with the output's name behind it, is the folder or below it.
// Such an output would be packed into the next output, or into itself.
int IsOutputInSource(const Text& output, const Text& source) {
  Text root = ResolvedPath(source);
  Text name = FileNamePart(output);
  Text parent = output.Middle(0, output.Length() - name.Length());
  Text where = ResolvedPath(parent.IsEmpty() ? Text(".") : parent);
  if (root.IsEmpty() || where.IsEmpty()) return 0;
  if (!IsPathSeparator(where.Last())) where += kPathSeparator;
  return IsPathWithin(where + name, root);
}

// What an existing output is when it is no file to replace: an OutputKind,
// *linked 1 when it is a link to that. 0 for nothing there, a file, a link
// to a file and a dangling link, which the output replaces (a link itself,
// never its target).
int32_t OutputKindOf(const Text& output, int32_t* linked) {
  int own = OwnPathKind(output);
  *linked = own == kPathLink;
  int kind = *linked ? PathKind(output) : own;
  if (kind == kPathFolder) return kOutputFolder;
  if (kind != kPathSpecial) return 0;
  switch (SpecialPathKind(output)) {
    case kSpecialFifo: return kOutputFifo;
    case kSpecialSocket: return kOutputSocket;
    case kSpecialCharacterDevice: return kOutputCharacterDevice;
    case kSpecialBlockDevice: return kOutputBlockDevice;
    default: return kOutputSpecial;
  }
}

// Copies the temporary archive, still the file created as created, into the
// output through a part file: early when one was created before the work
// (file nonzero), else one created now. Sets result's failure,
// archiveBytes, outputBytes, reason and where. The early part file is
// removed on failure.
void WriteArchiveToOutput(const BuildRequest& request, const Text& temp,
                          const PathIdentity& created, const PartFile& early,
                          BuildResult* result) {
  intptr_t archive = OpenFileForReading(kAnyNumber, temp);
  if (archive == 0) {
    if (early.file != 0) DiscardPartFile(early);
    result->failure = kBuildArchiveUnreadable;
    result->reason = LastSystemError();
    result->where = temp;
    return;
  }
  PathIdentity readBack;
  result->archiveBytes = FileLength(archive);
  int usable = 0;
  if (!GetOpenFileIdentity(archive, &readBack) || !SameIdentity(readBack, created)) {
    result->failure = kBuildArchiveReplaced;
  } else if (result->archiveBytes < 0) {
    result->failure = kBuildArchiveUnreadable;
    result->where = temp;
  } else if (result->archiveBytes > kMaxPayloadBytes) {
    result->failure = kBuildArchiveTooLarge;
  } else {
    usable = 1;
  }
  if (!usable && early.file != 0) DiscardPartFile(early);
  if (usable) {
    result->where = request.outputFile;
    PartFile part = early.file != 0 ? early : CreatePartFile(request.outputFile, &result->reason);
    if (part.file == 0) {
      result->failure = kBuildOutputFailed;
    } else if (!WriteOutput(request, archive, result->archiveBytes, part, &result->reason)) {
      RemovePartFile(part);
      result->failure = kBuildOutputFailed;
    } else if ((result->outputKind = OutputKindOf(request.outputFile, &result->outputLinked)) !=
               0) {
      // Something that is no file took the output's name meanwhile.
      RemovePartFile(part);
      result->failure = kBuildOutputNotAFile;
    } else if (!ReplacePartFile(request.outputFile, part, &result->reason)) {
      RemovePartFile(part);
      result->failure = kBuildOutputFailed;
    } else {
      result->outputBytes = PathSize(request.outputFile);
      result->reason = 0;
      result->where = Text();
    }
  }
  CloseFileNumber(archive);
}

// Archives the folder into temp, which was created as created, and writes
// the output from it, into the early part file when there is one (file
// nonzero; removed on failure). Sets result's counts and failure.
void ArchiveAndWrite(const BuildRequest& request, const Text& temp, const PathIdentity& created,
                     const PartFile& early, BuildResult* result) {
  Text pattern = request.sourceFolder + "*.*";
  result->addedCount = request.workers > 1
                           ? AddFolderToArchiveInParallel(temp, pattern, kNameRelative, 1,
                                                          request.linkMode, request.workers)
                           : AddFolderToArchive(temp, pattern, kNameRelative, 1,
                                                request.chunkPauseMs, request.linkMode);
  int archiveFailed = 0;
  for (int32_t i = 0; i < ArchiverProblemCount() && !archiveFailed; ++i) {
    if (ArchiverProblemKind(i) == kProblemArchiveFailed) {
      // The system's reason, such as a full disk, goes with the result.
      archiveFailed = 1;
      result->reason = ArchiverProblemReason(i);
      result->where = ArchiverProblemPath(i);
    }
  }
  if (archiveFailed) {
    result->failure = kBuildArchiveUnreadable;
  } else if (result->fileCount != result->addedCount || ArchiverProblemCount() > 0) {
    result->failure = kBuildFilesLeftOut;
  } else if (request.stubImage == nullptr || request.stubBytes <= 0) {
    result->failure = kBuildNoStub;
  } else {
    WriteArchiveToOutput(request, temp, created, early, result);
    return;
  }
  if (early.file != 0) DiscardPartFile(early);
}

// RunBuildSteps with the request's exclusions and newest time in force.
BuildResult RunBuildStepsWithChoices(const BuildRequest& request) {
  BuildResult result = {kBuildWritten, 0, 0, -1, -1, 0, 0, 0, Text()};
  // The output is looked at before anything is counted or written.
  if (IsOutputInSource(request.outputFile, request.sourceFolder)) {
    result.failure = kBuildOutputInSource;
    result.where = request.outputFile;
    return result;
  }
  result.outputKind = OutputKindOf(request.outputFile, &result.outputLinked);
  if (result.outputKind != 0) {
    result.failure = kBuildOutputNotAFile;
    result.where = request.outputFile;
    return result;
  }
  if (request.tempArchive.IsEmpty()) {
    result.failure = kBuildNoTempName;
    return result;
  }
  // The temporary archive goes into a folder of the job's own, where no one
  // else can plant, swap or read it, and is created there exclusively; what
  // is read back must be that very file. Inside the source folder that
  // folder would be written there and packed along with the files.
  Text tempName = FileNamePart(request.tempArchive);
  Text tempFolder = FolderPart(request.tempArchive);
  if (IsPathWithin(ResolvedPath(tempFolder.IsEmpty() ? Text(".") : tempFolder),
                   ResolvedPath(request.sourceFolder))) {
    result.failure = kBuildTempInSource;
    result.where = tempFolder;
    return result;
  }
  PartFile early = {0, Text(), -1};
  if (request.checkFirst || request.excludeCount > 0) {
    // The walk that counts checks every item too; the archiver's own walk
    // then leaves out the same items, so both counts agree.
    int64_t bytes = 0;
    result.fileCount = CheckFolderForArchive(request.sourceFolder + "*.*", kNameRelative, 1,
                                             request.linkMode, &bytes);
  } else {
    result.fileCount = CountFiles(request.sourceFolder);
  }
  if (request.checkFirst) {
    // Refused in the time of a walk: nothing is compressed for an output
    // that cannot be written.
    if (ArchiverProblemCount() > 0) {
      result.failure = kBuildFilesLeftOut;
      return result;
    }
    if (request.stubImage == nullptr || request.stubBytes <= 0) {
      result.failure = kBuildNoStub;
      return result;
    }
    // The part file made now shows that the output's folder exists, is a
    // folder and takes a new file; the output is written into it later.
    early = CreatePartFile(request.outputFile, &result.reason);
    if (early.file == 0) {
      result.failure = kBuildOutputFailed;
      result.where = request.outputFile;
      return result;
    }
    result.reason = 0;
  }
  HoldInterrupts(1);
  Text privateFolder = MakePrivateFolder(tempFolder);
  result.reason = LastSystemError();
  int32_t folderDebris =
      privateFolder.IsEmpty() ? -1 : NoteDebris(privateFolder, kDebrisPrivateFolder);
  HoldInterrupts(0);
  if (privateFolder.IsEmpty()) {
    if (early.file != 0) DiscardPartFile(early);
    result.failure = kBuildNoPrivateFolder;
    result.where = tempFolder;
    return result;
  }
  result.reason = 0;
  // Drawn inside the private folder, a name is always free: no one else's
  // files can use up the names there.
  if (tempName.IsEmpty())
    tempName = FileNamePart(MakeTempArchiveNameIn(privateFolder, kTempArchivePrefix));
  Text temp = privateFolder + tempName;
  PathIdentity created;
  HoldInterrupts(1);
  intptr_t fresh = CreateNewFileForWriting(kAnyNumber, temp);
  int32_t createReason = LastSystemError();
  int32_t tempDebris = fresh != 0 ? NoteDebris(temp, kDebrisFile) : -1;
  HoldInterrupts(0);
  // A handle open for writing only may be refused its own facts (Windows);
  // the name then answers, a moment after the exclusive creation.
  int createdOk =
      fresh != 0 && (GetOpenFileIdentity(fresh, &created) || GetPathIdentity(temp, &created));
  if (fresh != 0) CloseFileNumber(fresh);
  if (createdOk) {
    ArchiveAndWrite(request, temp, created, early, &result);
  } else {
    if (early.file != 0) DiscardPartFile(early);
    result.failure = kBuildArchiveUnreadable;
    result.reason = createReason;
    result.where = temp;
  }
  HoldInterrupts(1);
  if (fresh != 0) RemoveFile(temp);
  ForgetDebris(tempDebris);
  RemovePrivateFolder(privateFolder);
  ForgetDebris(folderDebris);
  HoldInterrupts(0);
  return result;
}

}  // namespace

BuildResult RunBuildSteps(const BuildRequest& request) {
  // The Maker sets neither: its walks stay as they always were.
  if (!SetArchiverExclusions(request.excludes, request.excludeCount)) {
    BuildResult result = {kBuildFilesLeftOut, 0, 0, -1, -1, 0, 0, 0, Text()};
    return result;
  }
  SetArchiverNewestTime(request.newestTime);
  // A run that checks first stores what its check walked, the folder being
  // walked once: a file put there after the check is not taken, one changed
  // or swapped since is found when it is opened.
  KeepCheckedWalk(request.checkFirst);
  // A run on several threads checks on as many.
  SetArchiverCheckThreads(request.workers);
  BuildResult result = RunBuildStepsWithChoices(request);
  SetArchiverCheckThreads(1);
  KeepCheckedWalk(0);
  SetArchiverExclusions(nullptr, 0);
  SetArchiverNewestTime(-1);
  return result;
}

Text BuildFailureText(const BuildResult& result) {
  switch (result.failure) {
    case kBuildWritten: return Text();
    case kBuildNoTempName:
      return "No temporary name is free: Vezovud0 to Vezovud99 all exist in the temporary folder.";
    case kBuildFilesLeftOut: {
      // The count is that of the problem list shown below it; only a
      // folder that changed meanwhile leaves files out without a problem.
      int32_t missing = ArchiverProblemCount();
      if (missing == 0) missing = result.fileCount - result.addedCount;
      return Text("No archive was written: ") + DecimalText(missing) +
             " files or folders could not be read or stored.";
    }
    case kBuildArchiveUnreadable:
      return "No archive was written: the temporary archive could not be written or read.";
    case kBuildArchiveTooLarge:
      return "No archive was written: the archive would be 2 GB or larger.";
    case kBuildOutputFailed:
      return "No archive was written: the output file could not be created or written.";
    case kBuildNoStub: return "No archive was written: there is no stub image.";
    case kBuildOutputInSource:
      return "No archive was written: the output file would lie inside the folder being packed.";
    case kBuildOutputNotAFile: {
      const char* kind = "a special file";
      switch (result.outputKind) {
        case kOutputFolder: kind = "a folder"; break;
        case kOutputFifo: kind = "a FIFO"; break;
        case kOutputSocket: kind = "a socket"; break;
        case kOutputCharacterDevice: kind = "a character device"; break;
        case kOutputBlockDevice: kind = "a block device"; break;
        default: break;
      }
      return Text("No archive was written: the output ") +
             (result.outputLinked ? "is a link to " : "is ") + kind + ", not a file.";
    }
    case kBuildTempInSource:
      return "No archive was written: the temporary folder lies inside the folder being packed.";
    case kBuildArchiveReplaced:
      return "No archive was written: the temporary archive was replaced while it was written.";
    case kBuildNoPrivateFolder:
      return "No archive was written: no private folder could be made for the temporary archive.";
    default: return "No archive was written.";
  }
}
