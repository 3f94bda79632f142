// The hashing pass on a pool of workers against the one-thread pass: the same
// fid, SID, cid and piece digests on files at every piece-size, block and qid
// edge, with any number of workers and any read-ahead, for every piece layout
// the size rules produce; and a reader that fails ends the pass at once.
#include "server/hash/codec/file_hash_pass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "foundation/text/hex_text.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/piece_size.h"
#include "server/hash/codec/stdio_source.h"
#include "server/hash/tests/hash_test_files.h"

namespace {
constexpr uint64_t K = 1024, M = K * K;

// A file held in memory.
class MemoryReader : public IBlockReader {
 public:
  explicit MemoryReader(const std::vector<uint8_t>& data) : data_(data) {}
  bool ReadBlock(uint64_t offset, uint8_t* buffer, size_t want) override {
    ++reads;
    if (offset != expected_ || offset + want > data_.size()) return false;  // blocks come in order
    expected_ = offset + want;
    std::memcpy(buffer, data_.data() + offset, want);
    return failAt < 0 || reads != failAt;
  }
  int reads = 0;
  int failAt = -1;  // the read (1 = first) that fails

 private:
  const std::vector<uint8_t>& data_;
  uint64_t expected_ = 0;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; i += 8) {
    const uint64_t r = rng();
    std::memcpy(v.data() + i, &r, std::min<size_t>(8, n - i));
  }
  return v;
}

std::string Hex(const DigestHolder& d) { return HexText(d.digest, d.length); }

void ExpectSamePass(const HashPassResult& expect, const HashPassResult& got) {
  EXPECT_EQ(Hex(got.fid), Hex(expect.fid));
  EXPECT_EQ(Hex(got.sid), Hex(expect.sid));
  EXPECT_EQ(Hex(got.cid), Hex(expect.cid));
  EXPECT_EQ(got.fid.pieceSize, expect.fid.pieceSize);
  EXPECT_EQ(got.cid.pieceSize, expect.cid.pieceSize);
  EXPECT_TRUE(got.pieceDigests == expect.pieceDigests);
}

HashPassResult PassPartOf(const FileIds& ids) {
  HashPassResult r;
  r.fid = ids.fid;
  r.sid = ids.sid;
  r.cid = ids.cid;
  r.pieceDigests = ids.pieceDigests;
  return r;
}

void ExpectSameIds(const FileIds& expect, const FileIds& got) {
  ExpectSamePass(PassPartOf(expect), PassPartOf(got));
  EXPECT_EQ(Hex(got.qid), Hex(expect.qid));
}
}  // namespace

// Every edge of the piece-size rules, of the read block and of the qid, on a
// file on disk, through the same entry the id tool and the benchmark use.
TEST(FileHashPass, PoolMatchesSequentialAtEveryEdge) {
  struct Row { const char* name; uint64_t size; };
  static const Row rows[] = {
      {"one byte", 1},
      {"qid hashed whole", 61439},
      {"qid sampled, samples cover it exactly", 61440},
      {"one MD5 piece", 64 * K},
      {"two MD5 pieces", 64 * K + 1},
      {"one block less a byte", 256 * K - 1},
      {"one block", 256 * K},
      {"one block and a byte: two lanes", 256 * K + 1},
      {"SHA-1 16 KiB pieces, last size", 4 * M - 1},
      {"SHA-1 32 KiB pieces, first size", 4 * M},
      {"SHA-1 32 KiB pieces, last size", 16 * M - 1},
      {"SHA-1 64 KiB pieces, first size", 16 * M},
      {"MD5 64 KiB pieces, last size", 32 * M},
      {"MD5 128 KiB pieces, first size", 32 * M + 1},
      {"SHA-1 64 KiB pieces, last size", 0x3FFFFFE - 1},
      {"SHA-1 128 KiB pieces, first size", 0x3FFFFFE},
      {"MD5 128 KiB pieces, last size", 64 * M},
      {"MD5 256 KiB pieces, first size", 64 * M + 1},
      {"MD5 256 KiB pieces, last size", 128 * M},
      {"MD5 512 KiB pieces, first size", 128 * M + 1},
      {"SHA-1 128 KiB pieces, last size", 0xFFFFFF8 - 1},
      {"SHA-1 256 KiB pieces, first size", 0xFFFFFF8},
      {"MD5 512 KiB pieces, last size", 256 * M},
      {"MD5 1 MiB pieces, first size", 256 * M + 1},
  };
  HashTestDir dir("pass_edges");
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.name << " (" << r.size << " bytes)");
    const std::string path = dir.File("f.bin");
    ASSERT_TRUE(WriteMarkedFile(path, r.size, uint32_t(r.size)));
    CStdioByteSource source;
    ASSERT_TRUE(source.Open(path.c_str()));
    FileIds expect, got;
    ASSERT_TRUE(ComputeFileIdsSequential(source, r.size, &expect));
    ASSERT_TRUE(ComputeFileIds(source, r.size, &got));
    ExpectSameIds(expect, got);
    EXPECT_EQ(expect.pieceDigests.size(), 16 * GetPieceCount(r.size));
  }
}

// The piece layouts of files far larger than a test can hash, reached by
// setting the piece sizes: lanes made by the MD5 side, by the SHA-1 side or
// by the read block, lanes that end short, a window smaller than one lane.
TEST(FileHashPass, PoolMatchesSequentialForEveryLayout) {
  struct Row { const char* name; uint64_t md5Piece, sha1Piece, size; };
  static const Row rows[] = {
      {"above 4 GiB: 2 MiB and 1 MiB pieces", 2 * M, 1 * M, 9 * M + 5},
      {"above 8 GiB: 4 MiB and 1 MiB pieces", 4 * M, 1 * M, 17 * M + 1},
      {"far above: 32 MiB and 1 MiB pieces, one short lane", 32 * M, 1 * M, 40 * M + 3},
      {"1 GiB: 1 MiB and 512 KiB pieces", 1 * M, 512 * K, 5 * M - 1},
      {"4 GiB: 1 MiB and 1 MiB pieces", 1 * M, 1 * M, 4 * M + 1},
      {"small: 64 KiB and 16 KiB pieces in 256 KiB lanes", 64 * K, 16 * K, 3 * M + 7},
      {"lanes exactly filled", 512 * K, 128 * K, 4 * M},
  };
  for (const Row& r : rows) {
    const std::vector<uint8_t> data = RandomBytes(size_t(r.size), uint32_t(r.size));
    HashPassOptions seq;
    seq.md5PieceSize = r.md5Piece;
    seq.sha1PieceSize = r.sha1Piece;
    MemoryReader seqReader(data);
    HashPassResult expect;
    ASSERT_TRUE(RunHashPassSequential(r.size, true, seqReader, seq, &expect));
    struct Shape { unsigned workers; size_t window; };
    static const Shape shapes[] = {{1, 0}, {2, 0}, {3, 0}, {8, 0}, {16, 0}, {8, 2 * kHashReadBlock}, {3, 5 * kHashReadBlock}};
    for (const Shape& shape : shapes) {
      SCOPED_TRACE(testing::Message() << r.name << ", " << shape.workers << " workers, window " << shape.window);
      HashPassOptions options = seq;
      options.workers = shape.workers;
      options.windowBytes = shape.window;
      MemoryReader reader(data);
      HashPassResult got;
      ASSERT_TRUE(RunHashPass(r.size, true, reader, options, &got));
      ExpectSamePass(expect, got);
      EXPECT_EQ(uint64_t(reader.reads), PieceCountFor(r.size, kHashReadBlock));  // each block read once
    }
  }
}

// Without the MD5 side (a stored record gave the fid) only the cid is made.
TEST(FileHashPass, WithoutMd5OnlyTheCidIsMade) {
  const std::vector<uint8_t> data = RandomBytes(7 * M + 3, 7);
  MemoryReader seqReader(data), reader(data);
  HashPassResult expect, got;
  ASSERT_TRUE(RunHashPassSequential(data.size(), false, seqReader, {}, &expect));
  ASSERT_TRUE(RunHashPass(data.size(), false, reader, {}, &got));
  EXPECT_EQ(Hex(got.cid), Hex(expect.cid));
  EXPECT_EQ(got.fid.length, 0u);
  EXPECT_EQ(got.sid.length, 0u);
  EXPECT_TRUE(got.pieceDigests.empty());
}

// A reader that gives up (short read, changed file, cancel) ends the pass:
// no block after it is read and the result is left as it was.
TEST(FileHashPass, FailedReadEndsThePass) {
  const std::vector<uint8_t> data = RandomBytes(10 * M + 1, 8);  // 41 blocks
  struct Row { const char* name; int failAt; unsigned workers; };
  static const Row rows[] = {
      {"first block", 1, 4}, {"a middle block", 17, 4}, {"the last block", 41, 4},
      {"a middle block, one worker", 20, 1}, {"a middle block, sequential", 20, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    MemoryReader reader(data);
    reader.failAt = r.failAt;
    HashPassResult out;
    out.cid.length = 99;  // a mark that must survive
    HashPassOptions options;
    options.workers = r.workers;
    const bool ok = r.workers == 0 ? RunHashPassSequential(data.size(), true, reader, options, &out)
                                   : RunHashPass(data.size(), true, reader, options, &out);
    EXPECT_FALSE(ok);
    EXPECT_EQ(reader.reads, r.failAt);
    EXPECT_EQ(out.cid.length, 99u);
    EXPECT_TRUE(out.pieceDigests.empty());
  }
}

TEST(FileHashPass, WorkerCountDefaultsToTheCoresWithinBounds) {
  EXPECT_GE(ResolveHashWorkers(0), 1u);
  EXPECT_LE(ResolveHashWorkers(0), kMaxHashWorkers);
  EXPECT_EQ(ResolveHashWorkers(3), 3u);
  EXPECT_EQ(ResolveHashWorkers(1000), kMaxHashWorkers);
}
