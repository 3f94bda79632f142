// CSimpleFile, range and whole-file operations, sizes, times and preallocation.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/util/file_ops.h"
#include "foundation/util/simple_file.h"
#include "foundation/util/tests/temp_dir.h"

TEST(SimpleFile, WriteAppendMarkAndRead) {
  TempDir dir(L"simple_file");
  const std::wstring path = dir / L"a.txt";
  CSimpleFile f;
  EXPECT_FALSE(f.IsOpen());
  ASSERT_TRUE(f.OpenWrite(path.c_str(), false, false, true));
  EXPECT_EQ(f.Write("ab", 2), 2u);
  f.Close();
  EXPECT_FALSE(f.IsOpen());
  // Appending to a file that is not empty adds no second mark.
  ASSERT_TRUE(f.OpenWrite(path.c_str(), true, true, true));
  EXPECT_EQ(f.Write("cd", 2), 2u);
  EXPECT_TRUE(f.Flush());
  f.Close();
  EXPECT_EQ(ReadWholeFile(path.c_str()), "\xFF\xFE" "abcd");

  ASSERT_TRUE(f.OpenRead(path.c_str()));
  EXPECT_EQ(f.Write("x", 1), 0u) << "read-only handle";
  ASSERT_TRUE(f.Seek(3));
  char buf[8] = {};
  EXPECT_EQ(f.Read(buf, sizeof buf), 3u);
  EXPECT_STREQ(buf, "bcd");
  EXPECT_EQ(f.Read(buf, sizeof buf), 0u) << "at the end";
  f.Close();

  // Created anew without appending.
  ASSERT_TRUE(f.OpenWrite(path.c_str(), false, false, false));
  f.Close();
  EXPECT_EQ(GetFileSize64(path.c_str()), 0u);
  EXPECT_FALSE(f.OpenRead((dir / L"missing").c_str()));
  EXPECT_FALSE(f.IsOpen());
}

TEST(FileRange, ReadAndWrite) {
  TempDir dir(L"file_range");
  const std::wstring path = dir / L"r.bin";
  EXPECT_EQ(WriteFileRange(path.c_str(), 0, "0123456789", 10, true, false), 10u);
  EXPECT_EQ(WriteFileRange(path.c_str(), 4, "ab", 2, false, true), 2u);
  // Writing past the end grows the file.
  EXPECT_EQ(WriteFileRange(path.c_str(), 12, "Z", 1, false, false), 1u);
  EXPECT_EQ(GetFileSize64(path.c_str()), 13u);

  struct Row { const char* name; uint64_t offset; uint32_t count; uint32_t capacity; std::string bytes; };
  const Row rows[] = {
      {"range", 2, 4, 16, "23ab"},
      {"whole file", 0, kWholeFile, 16, std::string("0123ab6789\0\0Z", 13)},
      {"rest of the file", 10, kWholeFile, 16, std::string("\0\0Z", 3)},
      {"whole file, small buffer", 0, kWholeFile, 5, "0123a"},
      {"count above capacity", 0, 10, 3, "012"},
      {"past the end", 13, 4, 16, ""},
      {"whole file past the end", 20, kWholeFile, 16, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<char> buf(r.capacity + 1, '#');
    const uint32_t got = ReadFileRange(path.c_str(), r.offset, r.count, buf.data(), r.capacity);
    EXPECT_EQ(std::string(buf.data(), got), r.bytes);
    EXPECT_EQ(buf[r.capacity], '#') << "read past the capacity";
  }
  char buf[4];
  EXPECT_EQ(ReadFileRange((dir / L"missing").c_str(), 0, 4, buf, 4), 0u);
  EXPECT_EQ(WriteFileRange((dir / L"no\\such\\dir").c_str(), 0, "x", 1, true, false), 0u);
}

TEST(FileReplace, WholeOrNotAtAll) {
  TempDir dir(L"file_replace");
  const std::wstring path = dir / L"LastPublish.txt";
  const std::wstring beside = path + kReplaceNewSuffix;
  struct Row {
    const char* name;
    const char* before;  // null: no file yet
    int obstacle;        // 1 a leftover beside it, 2 a folder where it is written first
    std::string data;
    bool replaced;
  } rows[] = {
      {"new file", nullptr, 0, "links\r\n", true},
      {"over an old one", "old", 0, "new text", true},
      {"emptied", "old", 0, "", true},
      {"a leftover beside it", "old", 1, "new text", true},
      {"nowhere to write it", "old", 2, "new text", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    DeleteFileW(path.c_str());
    if (r.before) {
      const uint32_t n = uint32_t(std::strlen(r.before));
      ASSERT_EQ(WriteFileRange(path.c_str(), 0, r.before, n, true, false), n);
    }
    if (r.obstacle == 1) {
      ASSERT_EQ(WriteFileRange(beside.c_str(), 0, "torn", 4, true, false), 4u);
    }
    if (r.obstacle == 2) {
      ASSERT_TRUE(CreateDirectoryW(beside.c_str(), nullptr));
    }
    EXPECT_EQ(ReplaceFileWhole(path.c_str(), r.data.data(), r.data.size()), r.replaced);
    EXPECT_EQ(ReadWholeFile(path.c_str()), r.replaced ? r.data : std::string(r.before));
    if (r.obstacle == 2) RemoveDirectoryW(beside.c_str());
    EXPECT_EQ(GetFileAttributesW(beside.c_str()), INVALID_FILE_ATTRIBUTES) << "left beside it";
  }
  EXPECT_FALSE(ReplaceFileWhole((dir / L"no\\such\\dir").c_str(), "x", 1));
}

TEST(FileInfo, SizesOfMissingAndEmptyFiles) {
  TempDir dir(L"file_info");
  const std::wstring empty = dir / L"empty";
  WriteFileRange(empty.c_str(), 0, "", 0, true, false);
  EXPECT_EQ(GetFileSize64((dir / L"missing").c_str()), 0u);
  EXPECT_EQ(GetFileSize64(empty.c_str()), 0u);
  uint64_t size = 1;
  FILETIME written{};
  EXPECT_FALSE(GetFileInfo((dir / L"missing").c_str(), &size, &written));
  EXPECT_TRUE(GetFileInfo(empty.c_str(), &size, &written));
  EXPECT_EQ(size, 0u);
  EXPECT_NE(written.dwHighDateTime, 0u);
}

TEST(FileText, LinesWithoutCarriageReturns) {
  TempDir dir(L"file_text");
  const std::wstring path = dir / L"lines.txt";
  const std::string text = "first\r\nsecond\n\r\nlast";
  WriteFileRange(path.c_str(), 0, text.data(), static_cast<uint32_t>(text.size()), true, false);
  std::vector<std::string> lines;
  EXPECT_EQ(ReadTextLines(path.c_str(), &lines), 4u);
  EXPECT_EQ(lines, (std::vector<std::string>{"first", "second", "", "last"}));
  // A text longer than one read chunk comes back whole.
  const std::string big(40000, 'q');
  WriteFileRange(path.c_str(), 0, big.data(), static_cast<uint32_t>(big.size()), true, false);
  EXPECT_EQ(ReadWholeFile(path.c_str()), big);
  EXPECT_EQ(ReadTextLines((dir / L"missing").c_str(), &lines), 0u);
}

TEST(FileTimes, TextAndLocalTime) {
  TempDir dir(L"file_times");
  const std::wstring path = dir / L"t";
  WriteFileRange(path.c_str(), 0, "x", 1, true, false);
  const int64_t when = 1700000000;  // 2023-11-14 22:13:20 UTC
  ASSERT_TRUE(SetFileTimes(path.c_str(), when));
  uint64_t size;
  FILETIME written;
  ASSERT_TRUE(GetFileInfo(path.c_str(), &size, &written));
  const uint64_t ticks = (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
  EXPECT_EQ(ticks, (static_cast<uint64_t>(when) + 11644473600ull) * 10000000ull);

  const std::string text = FileTimeText(written);
  ASSERT_EQ(text.size(), 23u) << text;
  EXPECT_EQ(text.substr(0, 4), "2023");
  EXPECT_EQ(text.substr(19), ":000");
  FILETIME bad{0xFFFFFFFF, 0xFFFFFFFF};
  EXPECT_EQ(FileTimeText(bad), "");
  // A value that already holds local time is written as it stands.
  EXPECT_EQ(LocalFileTimeText(written), "2023-11-14 22:13:20:000");
  EXPECT_EQ(LocalFileTimeText(bad), "");
  EXPECT_NE(GetLocalFileTime(), 0u);
}

TEST(Preallocate, GrowsToTheSize) {
  TempDir dir(L"preallocate");
  const std::wstring path = dir / L"big.bin";
  ASSERT_TRUE(PreallocateFile(path.c_str(), 5u << 20));
  EXPECT_EQ(GetFileSize64(path.c_str()), 5u << 20);
  // An existing file keeps its head.
  WriteFileRange(path.c_str(), 0, "head", 4, false, false);
  ASSERT_TRUE(PreallocateFile(path.c_str(), 6u << 20));
  char buf[4];
  EXPECT_EQ(ReadFileRange(path.c_str(), 0, 4, buf, 4), 4u);
  EXPECT_EQ(memcmp(buf, "head", 4), 0);
  EXPECT_FALSE(PreallocateFile((dir / L"no\\such\\file").c_str(), 10));
}
