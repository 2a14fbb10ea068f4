// Tests of numbered files: the 4096-byte buffer across its edges for reads
// and writes, the table of numbers (reuse, kAnyNumber, numbers not in use),
// RemoveFile, PathSize, TempDirectory and paths too long for 260 characters.
// Results are checked with the C++ library, not with the code under test.
#include <gtest/gtest.h>

#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "runtime/file.h"
#include "runtime/system.h"
#include "tests/runtime/test_support.h"

namespace {

using test_support::Exists;
using test_support::PatternBytes;
using test_support::ReadWholeFile;
using test_support::Separator;
using test_support::TempFolder;
using test_support::WriteWholeFile;

typedef std::vector<unsigned char> Bytes;

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    InitRuntime();
    ASSERT_TRUE(folder_.Ok()) << "no temporary folder below " << TempDirectory().c_str();
  }
  // A failed assertion may leave files open; Windows removes no open file.
  void TearDown() override { CloseAllFiles(); }

  std::string Path(const std::string& name) const { return folder_.Join(name); }

  TempFolder folder_;
};

// Reads n to its end in pieces of chunk bytes, checking that every piece but
// the last is whole.
Bytes ReadAllInChunks(intptr_t n, int32_t chunk, int64_t expectedTotal) {
  Bytes all;
  std::vector<unsigned char> piece(static_cast<size_t>(chunk));
  for (;;) {
    int64_t left = expectedTotal - static_cast<int64_t>(all.size());
    int32_t got = ReadBytes(n, piece.data(), chunk);
    EXPECT_EQ(std::min<int64_t>(chunk, std::max<int64_t>(left, 0)), got)
        << "chunk " << chunk << " at offset " << all.size();
    if (got <= 0) break;
    all.insert(all.end(), piece.begin(), piece.begin() + got);
    if (all.size() > static_cast<size_t>(expectedTotal) + static_cast<size_t>(chunk)) break;
  }
  return all;
}

// --- Writing ---------------------------------------------------------------

struct WritePlan {
  const char* label;
  std::vector<int32_t> sizes;
};

std::vector<int32_t> Repeat(int32_t size, int count) { return std::vector<int32_t>(count, size); }

TEST_F(FileTest, WritesAcrossTheBufferEdgesKeepEveryByteInOrder) {
  const WritePlan plans[] = {
      {"one short of the buffer", {4095}},
      {"exactly the buffer", {4096}},
      {"one past the buffer", {4097}},
      {"fills to the last byte, then one", {4095, 1}},
      {"one short, then two", {4095, 2}},
      {"fills, then a whole buffer", {4095, 1, 4096}},
      {"one byte, then a whole buffer", {1, 4096}},
      {"a whole buffer, then one byte", {4096, 1}},
      {"three almost-full buffers", {4095, 4095, 4095}},
      {"31-byte pieces", Repeat(31, 400)},
      {"a large block, then 31-byte pieces", {4097, 31, 31, 31, 4065, 1}},
      {"the stub, a block, the trailer", {59392, 4097, 4}},
      {"mixed", {1, 4094, 1, 4097, 3, 4093, 4096, 2, 8191, 5}},
  };
  int index = 0;
  for (const WritePlan& plan : plans) {
    SCOPED_TRACE(plan.label);
    std::string path = Path("write" + std::to_string(index++));
    int64_t total = 0;
    for (int32_t size : plan.sizes) total += size;
    Bytes expected = PatternBytes(static_cast<size_t>(total), index);

    ASSERT_NE(0, CreateFileForWriting(1, path.c_str()));
    int64_t offset = 0;
    for (int32_t size : plan.sizes) {
      ASSERT_EQ(size, WriteBytes(1, expected.data() + offset, size)) << "at offset " << offset;
      offset += size;
      // The length counts the bytes still in the buffer.
      ASSERT_EQ(offset, FileLength(1));
    }
    CloseFileNumber(1);
    EXPECT_EQ(expected, ReadWholeFile(path));
  }
}

TEST_F(FileTest, StubBlockTrailerRoundTrip) {
  // The output file's shape: a 59,392-byte image, a block past the buffer,
  // then a 4-byte length.
  std::string path = Path("output.exe");
  Bytes image = PatternBytes(59392, 7);
  Bytes payload = PatternBytes(4097, 8);
  ASSERT_NE(0, CreateFileForWriting(0, path.c_str()));
  EXPECT_EQ(59392, WriteBytes(0, image.data(), 59392));
  EXPECT_EQ(4097, WriteBytes(0, payload.data(), 4097));
  EXPECT_EQ(4, WriteInt32(0, 4097));
  EXPECT_EQ(59392 + 4097 + 4, FileLength(0));
  CloseFileNumber(0);

  Bytes expected = image;
  expected.insert(expected.end(), payload.begin(), payload.end());
  const unsigned char trailer[4] = {0x01, 0x10, 0x00, 0x00};
  expected.insert(expected.end(), trailer, trailer + 4);
  EXPECT_EQ(expected, ReadWholeFile(path));

  // And back through the runtime in one read.
  ASSERT_NE(0, OpenFileForReading(0, path.c_str()));
  EXPECT_EQ(static_cast<int64_t>(expected.size()), FileLength(0));
  Bytes back(expected.size() + 100);
  EXPECT_EQ(static_cast<int32_t>(expected.size()),
            ReadBytes(0, back.data(), static_cast<int32_t>(back.size())));
  back.resize(expected.size());
  EXPECT_EQ(expected, back);
  EXPECT_NE(0, EndOfFile(0));
  CloseFileNumber(0);
}

TEST_F(FileTest, WriteInt32IsLeastSignificantFirst) {
  std::string path = Path("ints");
  ASSERT_NE(0, CreateFileForWriting(0, path.c_str()));
  EXPECT_EQ(4, WriteInt32(0, 0x12345678));
  EXPECT_EQ(4, WriteInt32(0, -2));
  EXPECT_EQ(4, WriteInt32(0, INT32_MIN));
  CloseFileNumber(0);
  Bytes expected = {0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x80};
  EXPECT_EQ(expected, ReadWholeFile(path));
}

TEST_F(FileTest, NothingToWriteWritesNothing) {
  std::string path = Path("nothing");
  ASSERT_NE(0, CreateFileForWriting(0, path.c_str()));
  Bytes some = PatternBytes(10);
  EXPECT_EQ(0, WriteBytes(0, nullptr, 5));
  EXPECT_EQ(0, WriteBytes(0, some.data(), 0));
  EXPECT_EQ(0, WriteBytes(0, some.data(), -3));
  EXPECT_EQ(0, FileLength(0));
  CloseFileNumber(0);
  EXPECT_TRUE(ReadWholeFile(path).empty());
}

TEST_F(FileTest, CreatingEmptiesAnExistingFile) {
  std::string path = Path("old");
  ASSERT_TRUE(WriteWholeFile(path, PatternBytes(5000)));
  ASSERT_NE(0, CreateFileForWriting(0, path.c_str()));
  EXPECT_EQ(0, FileLength(0));
  Bytes two = {'h', 'i'};
  EXPECT_EQ(2, WriteBytes(0, two.data(), 2));
  CloseFileNumber(0);
  EXPECT_EQ(two, ReadWholeFile(path));
}

// --- Reading ---------------------------------------------------------------

TEST_F(FileTest, ReadsAcrossTheBufferEdgesInAwkwardPieces) {
  const int64_t sizes[] = {0, 1, 31, 4095, 4096, 4097, 8191, 8192, 8193, 12345, 40000};
  const int32_t chunks[] = {1, 31, 4095, 4096, 4097, 8193, 102400};
  for (int64_t size : sizes) {
    std::string path = Path("read" + std::to_string(size));
    Bytes content = PatternBytes(static_cast<size_t>(size), static_cast<uint32_t>(size));
    ASSERT_TRUE(WriteWholeFile(path, content));
    for (int32_t chunk : chunks) {
      SCOPED_TRACE("file of " + std::to_string(size) + " bytes, pieces of " + std::to_string(chunk));
      ASSERT_NE(0, OpenFileForReading(2, path.c_str()));
      EXPECT_EQ(size, FileLength(2));
      EXPECT_EQ(content, ReadAllInChunks(2, chunk, size));
      EXPECT_NE(0, EndOfFile(2));
      CloseFileNumber(2);
    }
  }
}

TEST_F(FileTest, EndOfFileBeforeEveryReadChangesNothing) {
  const int64_t sizes[] = {0, 1, 4095, 4096, 4097, 9000};
  const int32_t chunks[] = {1, 31, 4096, 5000};
  for (int64_t size : sizes) {
    std::string path = Path("eof" + std::to_string(size));
    Bytes content = PatternBytes(static_cast<size_t>(size), 3);
    ASSERT_TRUE(WriteWholeFile(path, content));
    for (int32_t chunk : chunks) {
      SCOPED_TRACE("file of " + std::to_string(size) + " bytes, pieces of " + std::to_string(chunk));
      ASSERT_NE(0, OpenFileForReading(2, path.c_str()));
      Bytes all;
      Bytes piece(static_cast<size_t>(chunk));
      for (int guard = 0; guard < 100000; guard++) {
        bool atEnd = EndOfFile(2) != 0;
        ASSERT_EQ(all.size() == content.size(), atEnd) << "at offset " << all.size();
        // Asking twice must not step over a byte.
        ASSERT_EQ(atEnd, EndOfFile(2) != 0);
        if (atEnd) break;
        int32_t got = ReadBytes(2, piece.data(), chunk);
        ASSERT_GT(got, 0);
        all.insert(all.end(), piece.begin(), piece.begin() + got);
      }
      EXPECT_EQ(content, all);
      CloseFileNumber(2);
    }
  }
}

TEST_F(FileTest, LargeReadRightAfterEndOfFileStartsWithTheByteItSaw) {
  const int32_t kReadChunkBytes = 102400;
  std::string path = Path("big");
  Bytes content = PatternBytes(kReadChunkBytes * 2 + 5000, 11);
  ASSERT_TRUE(WriteWholeFile(path, content));
  const int32_t skips[] = {0, 17, 4095, 4096, 4097};
  for (int32_t skip : skips) {
    SCOPED_TRACE("after skipping " + std::to_string(skip));
    ASSERT_NE(0, OpenFileForReading(0, path.c_str()));
    Bytes head(static_cast<size_t>(skip) + 1);
    if (skip > 0) {
      ASSERT_EQ(skip, ReadBytes(0, head.data(), skip));
    }
    ASSERT_EQ(0, EndOfFile(0));
    Bytes chunk(kReadChunkBytes);
    ASSERT_EQ(kReadChunkBytes, ReadBytes(0, chunk.data(), kReadChunkBytes));
    EXPECT_TRUE(std::equal(chunk.begin(), chunk.end(), content.begin() + skip));
    // And the next read goes on where that one ended.
    ASSERT_EQ(1, ReadBytes(0, head.data(), 1));
    EXPECT_EQ(content[static_cast<size_t>(skip) + kReadChunkBytes], head[0]);
    CloseFileNumber(0);
  }
}

TEST_F(FileTest, SmallFileComesWholeInOneRead) {
  std::string path = Path("small");
  Bytes content = PatternBytes(3000, 5);
  ASSERT_TRUE(WriteWholeFile(path, content));
  ASSERT_NE(0, OpenFileForReading(0, path.c_str()));
  Bytes back(10000);
  EXPECT_EQ(3000, ReadBytes(0, back.data(), 10000));
  back.resize(3000);
  EXPECT_EQ(content, back);
  EXPECT_EQ(0, ReadBytes(0, back.data(), 10));
  CloseFileNumber(0);
}

TEST_F(FileTest, ReadIntoNothingDeliversNothing) {
  std::string path = Path("some");
  ASSERT_TRUE(WriteWholeFile(path, PatternBytes(100)));
  ASSERT_NE(0, OpenFileForReading(0, path.c_str()));
  Bytes back(10);
  EXPECT_EQ(0, ReadBytes(0, nullptr, 10));
  EXPECT_EQ(0, ReadBytes(0, back.data(), 0));
  EXPECT_EQ(0, ReadBytes(0, back.data(), -1));
  // Nothing was consumed.
  EXPECT_EQ(10, ReadBytes(0, back.data(), 10));
  Bytes content = PatternBytes(100);
  EXPECT_EQ(Bytes(content.begin(), content.begin() + 10), back);
  CloseFileNumber(0);
}

TEST_F(FileTest, ReadAfterWriteFlushesAndCorruptsNothing) {
  // A file made for writing is write-only: a read delivers nothing, but must
  // first write what waits in the buffer and leave later writes in order.
  std::string path = Path("mixed");
  Bytes content = PatternBytes(100 + 5000 + 7, 13);
  ASSERT_NE(0, CreateFileForWriting(0, path.c_str()));
  ASSERT_EQ(100, WriteBytes(0, content.data(), 100));
  Bytes back(64);
  EXPECT_EQ(0, ReadBytes(0, back.data(), 64));
  EXPECT_EQ(100, FileLength(0));
  EXPECT_EQ(100u, ReadWholeFile(path).size()) << "the read should have flushed the buffer";
  ASSERT_EQ(5000, WriteBytes(0, content.data() + 100, 5000));
  EXPECT_NE(0, EndOfFile(0));
  ASSERT_EQ(7, WriteBytes(0, content.data() + 5100, 7));
  EXPECT_EQ(5107, FileLength(0));
  CloseFileNumber(0);
  EXPECT_EQ(content, ReadWholeFile(path));
}

TEST_F(FileTest, FileOpenedForReadingAcceptsNoWrites) {
  std::string path = Path("readonly");
  Bytes content = PatternBytes(500, 17);
  ASSERT_TRUE(WriteWholeFile(path, content));
  ASSERT_NE(0, OpenFileForReading(0, path.c_str()));
  Bytes back(10);
  ASSERT_EQ(10, ReadBytes(0, back.data(), 10));
  EXPECT_EQ(0, WriteBytes(0, content.data(), 10));
  EXPECT_EQ(0, WriteInt32(0, 5));
  EXPECT_EQ(500, FileLength(0));
  // Reading goes on where it stood.
  ASSERT_EQ(10, ReadBytes(0, back.data(), 10));
  EXPECT_TRUE(std::equal(back.begin(), back.end(), content.begin() + 10));
  CloseFileNumber(0);
  EXPECT_EQ(content, ReadWholeFile(path));
}

TEST_F(FileTest, OpeningFailsForMissingNamesAndFolders) {
  EXPECT_EQ(0, OpenFileForReading(0, Path("missing").c_str()));
  EXPECT_EQ(-1, FileLength(0)) << "a failed opening leaves no record";
  std::string folderPath = folder_.Path();
  EXPECT_EQ(0, OpenFileForReading(0, folderPath.c_str()));
  EXPECT_EQ(0, OpenFileForReading(0, folderPath.substr(0, folderPath.size() - 1).c_str()));
  EXPECT_EQ(0, CreateFileForWriting(0, folderPath.substr(0, folderPath.size() - 1).c_str()));
  EXPECT_EQ(0, CreateFileForWriting(0, Path("no" + Separator() + "such").c_str()));
  EXPECT_EQ(0, OpenFileForReading(0, ""));
  EXPECT_EQ(0, CreateFileForWriting(0, ""));
  EXPECT_EQ(-1, FileLength(0));
}

TEST_F(FileTest, BackslashIsTheSeparatorEverywhere) {
  std::string sub = Path("sub");
  ASSERT_TRUE(test_support::MakeFolder(sub));
  std::string name = folder_.Path();
  std::replace(name.begin(), name.end(), '/', '\\');
  name += "sub\\file.bin";
  ASSERT_NE(0, CreateFileForWriting(0, name.c_str()));
  EXPECT_EQ(4, WriteInt32(0, 1));
  CloseFileNumber(0);
  EXPECT_EQ(4u, ReadWholeFile(sub + Separator() + "file.bin").size());
  EXPECT_EQ(4, PathSize(name.c_str()));
  EXPECT_NE(0, RemoveFile(name.c_str()));
}

// --- The table of numbers ----------------------------------------------------

TEST_F(FileTest, ClosingTwiceIsHarmless) {
  std::string path = Path("twice");
  Bytes content = PatternBytes(300, 19);
  ASSERT_NE(0, CreateFileForWriting(4, path.c_str()));
  ASSERT_EQ(300, WriteBytes(4, content.data(), 300));
  CloseFileNumber(4);
  CloseFileNumber(4);
  CloseFileNumber(kAnyNumber);
  EXPECT_EQ(-1, FileLength(4));
  EXPECT_EQ(0, WriteBytes(4, content.data(), 1));
  EXPECT_EQ(content, ReadWholeFile(path));
}

TEST_F(FileTest, ReusingANumberFlushesAndClosesTheOldFile) {
  std::string first = Path("first");
  std::string second = Path("second");
  Bytes a = PatternBytes(10, 23);
  Bytes b = PatternBytes(6000, 29);
  ASSERT_NE(0, CreateFileForWriting(3, first.c_str()));
  ASSERT_EQ(10, WriteBytes(3, a.data(), 10));  // still in the buffer
  ASSERT_NE(0, CreateFileForWriting(3, second.c_str()));
  EXPECT_EQ(a, ReadWholeFile(first)) << "the old file lost its buffered bytes";
  // Closed: Windows deletes no file that is still open.
  EXPECT_NE(0, RemoveFile(first.c_str()));

  // A failed opening under the number leaves the file it holds open.
  ASSERT_EQ(1000, WriteBytes(3, b.data(), 1000));
  EXPECT_EQ(0, CreateFileForWriting(3, Path("no" + Separator() + "such").c_str()));
  EXPECT_EQ(0, OpenFileForReading(3, Path("missing").c_str()));
  ASSERT_EQ(5000, WriteBytes(3, b.data() + 1000, 5000));
  CloseFileNumber(3);
  EXPECT_EQ(b, ReadWholeFile(second));

  // Reading: the new file is read from its start.
  ASSERT_NE(0, OpenFileForReading(3, second.c_str()));
  Bytes piece(100);
  ASSERT_EQ(100, ReadBytes(3, piece.data(), 100));
  ASSERT_TRUE(WriteWholeFile(first, a));
  ASSERT_NE(0, OpenFileForReading(3, first.c_str()));
  ASSERT_EQ(10, ReadBytes(3, piece.data(), 100));
  EXPECT_TRUE(std::equal(a.begin(), a.end(), piece.begin()));
  CloseFileNumber(3);
}

TEST_F(FileTest, AnyNumberGivesIdentifiersApartFromNumbers) {
  Bytes a = PatternBytes(5000, 31);
  Bytes b = PatternBytes(3000, 37);
  Bytes c = PatternBytes(20, 41);
  intptr_t first = CreateFileForWriting(kAnyNumber, Path("a").c_str());
  intptr_t second = CreateFileForWriting(kAnyNumber, Path("b").c_str());
  ASSERT_NE(0, first);
  ASSERT_NE(0, second);
  EXPECT_NE(first, second);
  EXPECT_GE(first, kNumberLimit);
  EXPECT_GE(second, kNumberLimit);
  ASSERT_NE(0, CreateFileForWriting(0, Path("c").c_str()));

  // Interleaved writes land in their own files.
  for (int i = 0; i < 1000; i++) {
    ASSERT_EQ(5, WriteBytes(first, a.data() + i * 5, 5));
    ASSERT_EQ(3, WriteBytes(second, b.data() + i * 3, 3));
    if (i < 20) {
      ASSERT_EQ(1, WriteBytes(0, c.data() + i, 1));
    }
  }
  EXPECT_EQ(5000, FileLength(first));
  CloseFileNumber(kAnyNumber);  // names no file
  CloseFileNumber(first);
  EXPECT_EQ(-1, FileLength(first));
  EXPECT_EQ(3000, FileLength(second));
  CloseFileNumber(second);
  CloseFileNumber(0);
  EXPECT_EQ(a, ReadWholeFile(Path("a")));
  EXPECT_EQ(b, ReadWholeFile(Path("b")));
  EXPECT_EQ(c, ReadWholeFile(Path("c")));

  intptr_t reader = OpenFileForReading(kAnyNumber, Path("a").c_str());
  ASSERT_NE(0, reader);
  EXPECT_EQ(5000, FileLength(reader));
  CloseFileNumber(reader);
}

TEST_F(FileTest, NumbersNotInUseDoNothing) {
  std::string path = Path("kept");
  Bytes content = PatternBytes(50, 43);
  ASSERT_TRUE(WriteWholeFile(path, content));
  const intptr_t ids[] = {0, 1, 15, 16, 99999, 100000, -2, kAnyNumber, 16777216, 2000000000,
                          INTPTR_MAX, INTPTR_MIN};
  Bytes buffer(16);
  for (intptr_t id : ids) {
    SCOPED_TRACE("id " + std::to_string(static_cast<long long>(id)));
    EXPECT_EQ(-1, FileLength(id));
    EXPECT_EQ(0, ReadBytes(id, buffer.data(), 16));
    EXPECT_EQ(0, WriteBytes(id, buffer.data(), 16));
    EXPECT_EQ(0, WriteInt32(id, 7));
    // No object: nonzero, so a loop "while not at the end" cannot spin.
    EXPECT_NE(0, EndOfFile(id));
    CloseFileNumber(id);
  }
  // Numbers outside the table's range are refused before the file is touched.
  const intptr_t refused[] = {100000, -2, 2000000000, INTPTR_MAX, INTPTR_MIN};
  for (intptr_t id : refused) {
    SCOPED_TRACE("refused " + std::to_string(static_cast<long long>(id)));
    EXPECT_EQ(0, OpenFileForReading(id, path.c_str()));
    EXPECT_EQ(0, CreateFileForWriting(id, path.c_str()));
  }
  EXPECT_EQ(content, ReadWholeFile(path));
  // The highest number works, and grows the table that far.
  ASSERT_NE(0, OpenFileForReading(kNumberLimit - 1, path.c_str()));
  EXPECT_EQ(50, FileLength(kNumberLimit - 1));
  CloseFileNumber(kNumberLimit - 1);
}

// --- RemoveFile, PathSize, TempDirectory --------------------------------------

TEST_F(FileTest, RemoveFileDeletesFilesOnly) {
  std::string path = Path("doomed");
  ASSERT_TRUE(WriteWholeFile(path, PatternBytes(10)));
  EXPECT_NE(0, RemoveFile(path.c_str()));
  EXPECT_FALSE(Exists(path));
  EXPECT_EQ(0, RemoveFile(path.c_str()));
  EXPECT_EQ(0, RemoveFile(""));
  std::string sub = Path("sub");
  ASSERT_TRUE(test_support::MakeFolder(sub));
  EXPECT_EQ(0, RemoveFile(sub.c_str()));
  EXPECT_TRUE(Exists(sub));
}

TEST_F(FileTest, PathSizeTellsFilesFoldersAndMissingNames) {
  std::string empty = Path("empty");
  std::string big = Path("big");
  ASSERT_TRUE(WriteWholeFile(empty, Bytes()));
  ASSERT_TRUE(WriteWholeFile(big, PatternBytes(70001)));
  EXPECT_EQ(0, PathSize(empty.c_str()));
  EXPECT_EQ(70001, PathSize(big.c_str()));

  std::string withSeparator = folder_.Path();
  std::string without = withSeparator.substr(0, withSeparator.size() - 1);
  EXPECT_EQ(-2, PathSize(withSeparator.c_str()));
  EXPECT_EQ(-2, PathSize(without.c_str()));
  EXPECT_EQ(-2, PathSize(TempDirectory()));
  EXPECT_EQ(-1, PathSize(Path("missing").c_str()));
  EXPECT_EQ(-1, PathSize(Path("missing" + Separator()).c_str()));
  EXPECT_EQ(-1, PathSize(""));
#ifdef _WIN32
  EXPECT_EQ(-2, PathSize("C:"));
  EXPECT_EQ(-2, PathSize("C:\\"));
#else
  EXPECT_EQ(-2, PathSize("/"));
  EXPECT_EQ(-2, PathSize("\\"));
#endif
}

TEST_F(FileTest, TempDirectoryIsAFolderEndingInTheSeparator) {
  Text temp = TempDirectory();
  ASSERT_FALSE(temp.IsEmpty());
  EXPECT_EQ(kPathSeparator, temp.Last());
  EXPECT_LT(temp.Length(), kPathCapacity);
  EXPECT_EQ(-2, PathSize(temp));
}

#ifndef _WIN32
// $TMPDIR counts only when it names a folder that fits a path.
TEST_F(FileTest, TempDirectoryFollowsTmpdirOnlyWhenItIsAFolder) {
  const char* saved = getenv("TMPDIR");
  std::string savedValue = saved ? saved : "";
  std::string mine = folder_.Path();
  std::string mineBare = mine.substr(0, mine.size() - 1);
  // Folders of 258 and 259 characters: with the final "/" and the
  // terminating zero, the first just fits a path, the second does not.
  std::string middle = mine + std::string(120, 'd') + "/";
  ASSERT_LT(middle.size(), 250u);
  std::string fits = middle + std::string(258 - middle.size(), 'e');
  std::string over = middle + std::string(259 - middle.size(), 'e');
  ASSERT_TRUE(test_support::MakeFolder(fits));
  ASSERT_TRUE(test_support::MakeFolder(over));
  ASSERT_TRUE(WriteWholeFile(Path("plain"), Bytes()));

  struct Case {
    std::string value;
    std::string expected;
  } cases[] = {
      {mineBare, mine},
      {mine, mine},
      {Path("missing"), "/tmp/"},
      {Path("plain"), "/tmp/"},
      {"", "/tmp/"},
      {fits, fits + "/"},
      {fits + "/", fits + "/"},
      {over, "/tmp/"},
  };
  for (const Case& c : cases) {
    setenv("TMPDIR", c.value.c_str(), 1);
    EXPECT_EQ(c.expected, std::string(TempDirectory().c_str())) << "TMPDIR=" << c.value;
  }
  unsetenv("TMPDIR");
  EXPECT_EQ("/tmp/", std::string(TempDirectory().c_str()));
  if (saved) setenv("TMPDIR", savedValue.c_str(), 1);
}
#endif

// --- Paths that do not fit 260 characters -------------------------------------

// A path of exactly total characters below folder; folders on the way are
// made when make is true. The file name at its end is all "f", so the path of
// total + 1 characters, cut short, would name the file of total characters.
std::string PathOfLength(const TempFolder& folder, size_t total, bool make) {
  std::string path = folder.Path();
  while (total - path.size() > 200) {
    path += std::string(100, 'd');
    if (make) test_support::MakeFolder(path);
    path += Separator();
  }
  return path + std::string(total - path.size(), 'f');
}

TEST_F(FileTest, PathsBeyond260CharactersFailAndAreNeverCut) {
  std::string fits = PathOfLength(folder_, 259, true);
  std::string over = PathOfLength(folder_, 260, true);
  ASSERT_EQ(259u, fits.size());
  ASSERT_EQ(fits + "f", over);

  // 259 characters and the terminating zero: the longest path there is.
  ASSERT_NE(0, CreateFileForWriting(0, fits.c_str()));
  EXPECT_EQ(4, WriteInt32(0, 259));
  CloseFileNumber(0);
  ASSERT_TRUE(Exists(fits));
  EXPECT_EQ(4, PathSize(fits.c_str()));
  ASSERT_NE(0, OpenFileForReading(0, fits.c_str()));
  CloseFileNumber(0);

  // One more character: every operation fails, and none reaches the
  // 259-character file that a cut name would give.
  EXPECT_EQ(0, OpenFileForReading(0, over.c_str()));
  EXPECT_EQ(0, CreateFileForWriting(0, over.c_str()));
  EXPECT_EQ(0, CreateFileForWriting(kAnyNumber, over.c_str()));
  EXPECT_EQ(-1, PathSize(over.c_str()));
  EXPECT_EQ(0, RemoveFile(over.c_str()));
  EXPECT_EQ(4u, ReadWholeFile(fits).size()) << "the 259-character file was emptied";
  EXPECT_FALSE(Exists(over));

  // A 259-character folder name with its trailing separator makes 260.
  // (Windows makes no folder of more than 248 characters; there the folder
  // that fits is not tried.)
  std::string folderFits = PathOfLength(folder_, 258, true);
  bool made = test_support::MakeFolder(folderFits);
#ifndef _WIN32
  ASSERT_TRUE(made);
#endif
  if (made) {
    EXPECT_EQ(-2, PathSize(folderFits.c_str()));
    EXPECT_EQ(-2, PathSize((folderFits + Separator()).c_str()));
  }
  std::string folderOver = PathOfLength(folder_, 259, false);
  EXPECT_EQ(-1, PathSize((folderOver + Separator()).c_str()));

  // Far beyond the limit. On POSIX the path really exists, so only the limit
  // can make it fail.
  std::string far = PathOfLength(folder_, 333, true);
  ASSERT_EQ(333u, far.size());
#ifndef _WIN32
  ASSERT_TRUE(WriteWholeFile(far, PatternBytes(8)));
  ASSERT_TRUE(Exists(far));
#endif
  EXPECT_EQ(0, OpenFileForReading(0, far.c_str()));
  EXPECT_EQ(0, CreateFileForWriting(0, far.c_str()));
  EXPECT_EQ(-1, PathSize(far.c_str()));
  EXPECT_EQ(0, RemoveFile(far.c_str()));
#ifndef _WIN32
  EXPECT_EQ(8u, ReadWholeFile(far).size());
#endif
  std::string huge(100000, 'x');
  EXPECT_EQ(0, OpenFileForReading(0, huge.c_str()));
  EXPECT_EQ(-1, PathSize(huge.c_str()));
}

TEST_F(FileTest, PathWithAZeroByteFails) {
  std::string path = Path("cut");
  Text withZero = Text(path.c_str()) + Text("\0tail", 5);
  EXPECT_EQ(0, CreateFileForWriting(0, withZero));
  EXPECT_FALSE(Exists(path)) << "the name was cut at the zero byte";
  ASSERT_TRUE(WriteWholeFile(path, PatternBytes(9)));
  EXPECT_EQ(0, OpenFileForReading(0, withZero));
  EXPECT_EQ(-1, PathSize(withZero));
  EXPECT_EQ(0, RemoveFile(withZero));
  EXPECT_TRUE(Exists(path));
}

}  // namespace
