// The output file: stub image, then the temporary archive copied in chunks,
// then the 4-byte trailer, written to a partial file that is renamed over the
// target once its length proves every byte reached the disk.
#include "maker/build_steps.h"

#include "archive/folder_archiver.h"
#include "archive/output_layout.h"
#include "maker/prepare.h"
#include "runtime/file.h"
#include "runtime/file_replace.h"
#include "runtime/memory.h"

const char kPartialOutputSuffix[] = ".vezovud-part";

namespace {

// Writes stub + archive + trailer to path. 1 when every byte went out.
int WriteOutput(const BuildRequest& request, intptr_t archive, int64_t archiveBytes,
                const Text& path) {
  intptr_t output = CreateFileForWriting(kAnyNumber, path);
  if (output == 0) return 0;
  int ok = WriteBytes(output, request.stubImage, request.stubBytes) == request.stubBytes;
  char* chunk = (char*)AllocateBlock(kCopyChunkBytes);
  if (chunk == nullptr) ok = 0;
  int64_t copied = 0;
  while (ok && copied < archiveBytes) {
    int64_t left = archiveBytes - copied;
    int32_t want = left < kCopyChunkBytes ? (int32_t)left : kCopyChunkBytes;
    int32_t got = ReadBytes(archive, chunk, want);
    if (got != want || WriteBytes(output, chunk, got) != got) ok = 0;
    copied += got;
  }
  FreeBlock(chunk);
  if (ok) ok = WriteInt32(output, (int32_t)(uint32_t)archiveBytes) == kTrailerBytes;
  CloseFileNumber(output);
  // The close flushes the last buffer; its length shows whether that worked.
  int64_t expected = (int64_t)request.stubBytes + archiveBytes + kTrailerBytes;
  return ok && PathSize(path) == expected;
}

}  // namespace

BuildResult RunBuildSteps(const BuildRequest& request) {
  BuildResult result = {kBuildWritten, 0, 0, -1, -1};
  result.fileCount = CountFiles(request.sourceFolder);
  if (request.tempArchive.IsEmpty()) {
    result.failure = kBuildNoTempName;
    return result;
  }
  result.addedCount = AddFolderToArchive(request.tempArchive, request.sourceFolder + "*.*",
                                         kNameRelative, 1, request.chunkPauseMs);
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
    intptr_t archive = OpenFileForReading(kAnyNumber, request.tempArchive);
    if (archive == 0) {
      result.failure = kBuildArchiveUnreadable;
    } else {
      result.archiveBytes = FileLength(archive);
      if (result.archiveBytes < 0) {
        result.failure = kBuildArchiveUnreadable;
      } else if (result.archiveBytes > kMaxPayloadBytes) {
        result.failure = kBuildArchiveTooLarge;
      } else {
        Text partial = request.outputFile + kPartialOutputSuffix;
        if (WriteOutput(request, archive, result.archiveBytes, partial) &&
            ReplaceFileWith(request.outputFile, partial)) {
          result.outputBytes = PathSize(request.outputFile);
        } else {
          RemoveFile(partial);
          result.failure = kBuildOutputFailed;
        }
      }
      CloseFileNumber(archive);
    }
  }
  RemoveFile(request.tempArchive);
  return result;
}

Text BuildFailureText(const BuildResult& result) {
  switch (result.failure) {
    case kBuildWritten:
      return Text();
    case kBuildNoTempName:
      return "No temporary name is free: Vezovud0 to Vezovud99 all exist in the temporary folder.";
    case kBuildFilesLeftOut: {
      int32_t missing = ArchiverProblemCount();
      if (result.fileCount - result.addedCount > missing) missing = result.fileCount - result.addedCount;
      return Text("No archive was written: ") + DecimalText(missing) +
             " files could not be read or stored.";
    }
    case kBuildArchiveUnreadable:
      return "No archive was written: the temporary archive could not be written or read.";
    case kBuildArchiveTooLarge:
      return "No archive was written: the archive would be 2 GB or larger.";
    case kBuildOutputFailed:
      return "No archive was written: the output file could not be created or written.";
    case kBuildNoStub:
      return "No archive was written: there is no stub image.";
    default:
      return "No archive was written.";
  }
}
