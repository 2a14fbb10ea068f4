// The output file: stub image, then the temporary archive copied in chunks,
// then the 4-byte trailer, written to a partial file that is renamed over the
// target once its length proves every byte reached the disk. The temporary
// archive lives in a private folder for the length of one job.
#include "pack/build_steps.h"

#include "archive/folder_archiver.h"
#include "archive/folder_walk.h"
#include "archive/output_layout.h"
#include "pack/prepare.h"
#include "runtime/file.h"
#include "runtime/file_info.h"
#include "runtime/file_replace.h"
#include "runtime/filesystem.h"
#include "runtime/memory.h"

const char kPartialOutputSuffix[] = ".vezovud-part";

namespace {

// Writes stub + archive + trailer to path, which is created exclusively and
// never through a link. 1 when every byte went out, 0 when the write failed,
// -1 when path could not be created (nothing of it was touched).
int WriteOutput(const BuildRequest& request, intptr_t archive, int64_t archiveBytes,
                const Text& path) {
  intptr_t output = CreateNewFileForWriting(kAnyNumber, path);
  if (output == 0) return -1;
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
  CloseFileNumber(output);
  // The close flushes the last buffer; its length shows whether that worked.
  int64_t expected = static_cast<int64_t>(request.stubBytes) + archiveBytes + kTrailerBytes;
  return ok && PathSize(path) == expected ? 1 : 0;
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

// Copies the temporary archive, still the file created as created, into the
// output through a part file. Sets result's failure, archiveBytes and
// outputBytes.
void WriteArchiveToOutput(const BuildRequest& request, const Text& temp,
                          const PathIdentity& created, BuildResult* result) {
  intptr_t archive = OpenFileForReading(kAnyNumber, temp);
  if (archive == 0) {
    result->failure = kBuildArchiveUnreadable;
    return;
  }
  PathIdentity readBack;
  result->archiveBytes = FileLength(archive);
  if (!GetOpenFileIdentity(archive, &readBack) || !SameIdentity(readBack, created)) {
    result->failure = kBuildArchiveReplaced;
  } else if (result->archiveBytes < 0) {
    result->failure = kBuildArchiveUnreadable;
  } else if (result->archiveBytes > kMaxPayloadBytes) {
    result->failure = kBuildArchiveTooLarge;
  } else {
    Text partial = request.outputFile + kPartialOutputSuffix;
    int written = WriteOutput(request, archive, result->archiveBytes, partial);
    if (written == 1 && ReplaceFileWith(request.outputFile, partial)) {
      result->outputBytes = PathSize(request.outputFile);
    } else if (written == -1 && (PathSize(partial) != -1 || IsLinkPath(partial))) {
      // Someone else's file, or a link planted there: left as it is.
      result->failure = kBuildPartNameTaken;
    } else {
      if (written != -1) RemoveFile(partial);
      result->failure = kBuildOutputFailed;
    }
  }
  CloseFileNumber(archive);
}

}  // namespace

BuildResult RunBuildSteps(const BuildRequest& request) {
  BuildResult result = {kBuildWritten, 0, 0, -1, -1};
  result.fileCount = CountFiles(request.sourceFolder);
  if (request.tempArchive.IsEmpty()) {
    result.failure = kBuildNoTempName;
    return result;
  }
  if (IsOutputInSource(request.outputFile, request.sourceFolder)) {
    result.failure = kBuildOutputInSource;
    return result;
  }
  // The temporary archive goes into a folder of the job's own, where no one
  // else can plant, swap or read it, and is created there exclusively; what
  // is read back must be that very file. Inside the source folder that
  // folder would be written there and packed along with the files.
  Text tempName = FileNamePart(request.tempArchive);
  Text tempFolder = request.tempArchive.Middle(0, request.tempArchive.Length() - tempName.Length());
  if (IsPathWithin(ResolvedPath(tempFolder.IsEmpty() ? Text(".") : tempFolder),
                   ResolvedPath(request.sourceFolder))) {
    result.failure = kBuildTempInSource;
    return result;
  }
  Text privateFolder = MakePrivateFolder(tempFolder);
  if (privateFolder.IsEmpty()) {
    result.failure = kBuildArchiveUnreadable;
    return result;
  }
  Text temp = privateFolder + tempName;
  PathIdentity created;
  intptr_t fresh = CreateNewFileForWriting(kAnyNumber, temp);
  // A handle open for writing only may be refused its own facts (Windows);
  // the name then answers, a moment after the exclusive creation.
  int createdOk =
      fresh != 0 && (GetOpenFileIdentity(fresh, &created) || GetPathIdentity(temp, &created));
  if (fresh != 0) CloseFileNumber(fresh);
  if (createdOk) {
    Text pattern = request.sourceFolder + "*.*";
    result.addedCount = request.workers > 1
                            ? AddFolderToArchiveInParallel(temp, pattern, kNameRelative, 1,
                                                           request.linkMode, request.workers)
                            : AddFolderToArchive(temp, pattern, kNameRelative, 1,
                                                 request.chunkPauseMs, request.linkMode);
    int archiveFailed = 0;
    for (int32_t i = 0; i < ArchiverProblemCount(); ++i) {
      if (ArchiverProblemKind(i) == kProblemArchiveFailed) archiveFailed = 1;
    }
    if (archiveFailed) {
      result.failure = kBuildArchiveUnreadable;
    } else if (result.fileCount != result.addedCount || ArchiverProblemCount() > 0) {
      result.failure = kBuildFilesLeftOut;
    } else if (request.stubImage == nullptr || request.stubBytes <= 0) {
      result.failure = kBuildNoStub;
    } else {
      WriteArchiveToOutput(request, temp, created, &result);
    }
  } else {
    result.failure = kBuildArchiveUnreadable;
  }
  if (fresh != 0) RemoveFile(temp);
  RemovePrivateFolder(privateFolder);
  return result;
}

Text BuildFailureText(const BuildResult& result) {
  switch (result.failure) {
    case kBuildWritten: return Text();
    case kBuildNoTempName:
      return "No temporary name is free: Vezovud0 to Vezovud99 all exist in the temporary folder.";
    case kBuildFilesLeftOut: {
      int32_t missing = ArchiverProblemCount();
      if (result.fileCount - result.addedCount > missing)
        missing = result.fileCount - result.addedCount;
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
    case kBuildPartNameTaken:
      return Text("No archive was written: a file named like the output plus \"") +
             kPartialOutputSuffix + "\" exists already and is left alone.";
    case kBuildTempInSource:
      return "No archive was written: the temporary folder lies inside the folder being packed.";
    case kBuildArchiveReplaced:
      return "No archive was written: the temporary archive was replaced while it was written.";
    default: return "No archive was written.";
  }
}
