// The pool against the one-thread pass on sparse files of 4 GiB (the last
// size of the 64 KiB rule) and above it, whose blocks and pieces lie past
// 32-bit offsets. The layouts of the other large sizes are reached on small
// files in file_hash_pass_test.cpp; each row here costs two passes over 4 GiB.
#include <gtest/gtest.h>

#include <cstring>

#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/piece_size.h"
#include "server/hash/codec/stdio_source.h"
#include "server/hash/tests/hash_test_files.h"

TEST(FileHashPassLarge, PoolMatchesSequentialOnSparseFiles) {
  constexpr uint64_t M = 1ull << 20, G = 1ull << 30;
  struct Row { const char* name; uint64_t size; };
  static const Row rows[] = {
      {"4 GiB: 1 MiB pieces, 4096 of them", 4 * G},
      {"above 4 GiB: 2 MiB pieces, blocks past 32-bit offsets", 4 * G + 3 * M + 5},
  };
  HashTestDir dir("pass_large");
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.name << " (" << r.size << " bytes)");
    const std::string path = dir.File("sparse.bin");
    ASSERT_TRUE(WriteMarkedFile(path, r.size, uint32_t(r.size >> 3)));
    CStdioByteSource source;
    ASSERT_TRUE(source.Open(path.c_str()));
    ASSERT_EQ(source.Size(), r.size);
    FileIds expect, got;
    ASSERT_TRUE(ComputeFileIdsSequential(source, r.size, &expect));
    ASSERT_TRUE(ComputeFileIds(source, r.size, &got));
    EXPECT_EQ(0, std::memcmp(got.fid.digest, expect.fid.digest, 16));
    EXPECT_EQ(0, std::memcmp(got.sid.digest, expect.sid.digest, 16));
    EXPECT_EQ(0, std::memcmp(got.cid.digest, expect.cid.digest, 20));
    EXPECT_EQ(0, std::memcmp(got.qid.digest, expect.qid.digest, 20));
    EXPECT_EQ(got.cid.pieceSize, GetSha1PieceSize(r.size));
    EXPECT_TRUE(got.pieceDigests == expect.pieceDigests);
  }
}
