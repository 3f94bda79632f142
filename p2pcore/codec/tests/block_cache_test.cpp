// Block cache: the read each request makes, stored blocks and lookups, joined
// reads, short and failed reads, eviction, pinned blocks and dropped files.
#include "p2pcore/codec/block_cache.h"

#include <gtest/gtest.h>

#include <cstring>

using p2p::block_cache;
using p2p::file_key;

namespace {

constexpr uint32_t kBs = 262144;
const file_key kA = file_key::of(reinterpret_cast<const uint8_t*>("AAAAAAAAAAAAAAAA"));
const file_key kB = file_key::of(reinterpret_cast<const uint8_t*>("BBBBBBBBBBBBBBBB"));

// The byte a file holds at an offset, so every delivery can be checked.
uint8_t byte_at(uint64_t offset) { return uint8_t(offset * 131 + (offset >> 11)); }

void fill(uint8_t* p, uint64_t offset, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) p[i] = byte_at(offset + i);
}

bool holds_file_bytes(const uint8_t* p, uint64_t offset, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i)
    if (p[i] != byte_at(offset + i)) return false;
  return true;
}

// What a request goes through in the owner: a lookup, then a joined or a new read.
struct outcome {
  bool hit = false, joined = false;
  block_cache::read* started = nullptr;
};
outcome request(block_cache& c, const file_key& k, uint64_t offset, uint32_t length, void* user) {
  outcome o;
  block_cache::block* held = nullptr;
  if (const uint8_t* p = c.lookup(k, offset, length, 1, &held)) {
    EXPECT_TRUE(holds_file_bytes(p, offset, length));
    c.release(held);
    o.hit = true;
    return o;
  }
  if (c.join(k, offset, length, user)) {
    o.joined = true;
    return o;
  }
  o.started = c.start(k, c.plan(offset, length), offset, length, user);
  return o;
}

// Runs a started read as the disk would, delivering `available` bytes of it.
std::vector<block_cache::delivery> disk(block_cache& c, block_cache::read* r, uint32_t available, uint32_t error = 0) {
  const uint32_t n = std::min(available, c.read_length(r));
  if (!error) fill(c.buffer(r), c.read_offset(r), n);
  return c.complete(r, error, error ? 0 : n, 2);
}

}  // namespace

TEST(BlockCache, ReadPlans) {
  block_cache c(600ull << 20, kBs);
  struct Row {
    const char* name;
    uint64_t offset;
    uint32_t length;
    uint64_t read_offset;
    uint32_t read_length;
    bool whole;
  };
  const Row rows[] = {
      {"inside the second block", 263168, 1024, 262144, kBs, true},
      {"crosses into the next block", 258048, 8192, 258048, 8192, false},
      {"offset 0", 0, 1024, 0, kBs, true},
      {"exactly one block", kBs, kBs, kBs, kBs, true},
      {"longer than a block", 0, kBs + 1, 0, kBs + 1, false},
      {"near the top of 64 bits", UINT64_MAX - 10, 100, UINT64_MAX - 10, 100, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    block_cache::read_plan p = c.plan(r.offset, r.length);
    EXPECT_EQ(p.offset, r.read_offset);
    EXPECT_EQ(p.length, r.read_length);
    EXPECT_EQ(p.whole_block, r.whole);
  }
  EXPECT_EQ(block_cache(1 << 20, 100).block_size(), 1024u);
}

TEST(BlockCache, WholeBlocksAreStoredAndServed) {
  block_cache c(600ull << 20, kBs);
  int user = 0;
  outcome first = request(c, kA, 0, 1024, &user);
  ASSERT_NE(first.started, nullptr);
  auto d = disk(c, first.started, kBs);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_TRUE(d[0].first);
  EXPECT_EQ(d[0].error, 0u);
  EXPECT_TRUE(holds_file_bytes(d[0].data, 0, 1024));
  c.finish(first.started);
  EXPECT_EQ(c.stored_bytes(), kBs);

  struct Row {
    const char* name;
    uint64_t offset;
    uint32_t length;
    bool hit;
  };
  const Row rows[] = {
      {"offset 0", 0, 1024, true},
      {"the end of the block", kBs - 100, 100, true},
      {"the whole block", 0, kBs, true},
      {"crossing into the next block misses", kBs - 100, 200, false},
      {"the next block misses", kBs, 10, false},
      {"length 0 is no hit", 0, 0, false},
      {"another file misses", 0, 10, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    block_cache::block* held = nullptr;
    const file_key& k = std::string(r.name).find("another") == 0 ? kB : kA;
    const uint8_t* p = c.lookup(k, r.offset, r.length, 3, &held);
    EXPECT_EQ(p != nullptr, r.hit);
    if (p) {
      EXPECT_TRUE(holds_file_bytes(p, r.offset, r.length));
    }
    c.release(held);
  }
  EXPECT_EQ(c.stats().hits, 3u);

  // A read that crosses a block boundary is served but not stored.
  outcome cross = request(c, kA, 258048, 8192, &user);
  ASSERT_NE(cross.started, nullptr);
  EXPECT_EQ(c.read_offset(cross.started), 258048u);
  EXPECT_EQ(c.read_length(cross.started), 8192u);
  d = disk(c, cross.started, 8192);
  EXPECT_TRUE(holds_file_bytes(d[0].data, 258048, 8192));
  c.finish(cross.started);
  EXPECT_EQ(c.stored_bytes(), kBs);
  EXPECT_EQ(c.cached_blocks(), 1u);
}

TEST(BlockCache, RequestsJoinReadsThatHoldTheirBytes) {
  block_cache c(600ull << 20, kBs);
  int u1, u2, u3, u4, u5;
  outcome a = request(c, kA, 1024, 2048, &u1);
  ASSERT_NE(a.started, nullptr);
  outcome cross = request(c, kA, 258048, 8192, &u2);
  ASSERT_NE(cross.started, nullptr);
  struct Row {
    const char* name;
    const file_key& key;
    uint64_t offset;
    uint32_t length;
    void* user;
    bool joins;
  };
  const Row rows[] = {
      {"same block, other bytes", kA, 5000, 100, &u3, true},
      {"inside the crossing read, planned as block 1", kA, 262200, 1024, &u4, true},
      {"same offset as the crossing read but longer", kA, 258048, 16384, &u5, false},
      {"same bytes of another file", kB, 1024, 2048, &u5, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(c.join(r.key, r.offset, r.length, r.user), r.joins);
  }
  EXPECT_EQ(c.stats().reads, 2u);
  auto d = disk(c, a.started, kBs);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].user, &u1);
  EXPECT_TRUE(d[0].first);
  EXPECT_EQ(d[1].user, &u3);
  EXPECT_FALSE(d[1].first);  // its bytes came from a read another request started
  EXPECT_TRUE(holds_file_bytes(d[1].data, 5000, 100));
  c.finish(a.started);
  d = disk(c, cross.started, 8192);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[1].user, &u4);
  EXPECT_TRUE(holds_file_bytes(d[1].data, 262200, 1024));
  c.finish(cross.started);
  EXPECT_EQ(c.reads_in_flight(), 0u);
}

TEST(BlockCache, ShortAndFailedReads) {
  block_cache c(600ull << 20, kBs);
  int u1, u2, u3;
  // The last block of a file of kBs + 1000 bytes.
  outcome a = request(c, kA, kBs, 500, &u1);
  ASSERT_NE(a.started, nullptr);
  ASSERT_TRUE(c.join(kA, kBs + 900, 600, &u2));  // reaches past what the disk holds
  auto d = disk(c, a.started, 1000);
  ASSERT_EQ(d.size(), 2u);
  EXPECT_EQ(d[0].error, 0u);
  EXPECT_TRUE(holds_file_bytes(d[0].data, kBs, 500));
  EXPECT_EQ(d[1].error, p2p::kShortReadError);
  EXPECT_EQ(d[1].data, nullptr);
  c.finish(a.started);
  EXPECT_EQ(c.stored_bytes(), 1000u);  // the short block keeps its short length
  block_cache::block* held = nullptr;
  EXPECT_EQ(c.lookup(kA, kBs + 900, 200, 3, &held), nullptr);
  EXPECT_NE(c.lookup(kA, kBs + 900, 100, 3, &held), nullptr);
  c.release(held);

  outcome failed = request(c, kA, 0, 10, &u3);
  ASSERT_NE(failed.started, nullptr);
  d = disk(c, failed.started, 0, 23);
  ASSERT_EQ(d.size(), 1u);
  EXPECT_EQ(d[0].error, 23u);
  c.finish(failed.started);
  EXPECT_EQ(c.lookup(kA, 0, 10, 3, &held), nullptr);  // nothing stored for a failed read
  EXPECT_EQ(c.stored_bytes(), 1000u);
}

TEST(BlockCache, FullCacheReplacesTheLeastRecentlyUsedBlock) {
  block_cache c(3ull * 1024, 1024);
  int u;
  for (uint64_t i = 0; i < 3; ++i) {
    outcome o = request(c, kA, i * 1024, 10, &u);
    ASSERT_NE(o.started, nullptr);
    disk(c, o.started, 1024);
    c.finish(o.started);
  }
  EXPECT_EQ(c.blocks_allocated(), 3u);
  EXPECT_TRUE(request(c, kA, 0, 10, &u).hit);  // block 0 is now the most recent; block 1 the least
  outcome o = request(c, kA, 3 * 1024, 10, &u);
  ASSERT_NE(o.started, nullptr);
  disk(c, o.started, 1024);
  c.finish(o.started);
  EXPECT_EQ(c.blocks_allocated(), 3u);
  EXPECT_EQ(c.stats().evicted, 1u);
  struct Row {
    uint64_t block;
    bool cached;
  };
  for (Row r : {Row{0, true}, Row{1, false}, Row{2, true}, Row{3, true}}) {
    SCOPED_TRACE(r.block);
    block_cache::block* held = nullptr;
    EXPECT_EQ(c.lookup(kA, r.block * 1024, 10, 5, &held) != nullptr, r.cached);
    c.release(held);
  }
}

TEST(BlockCache, PinnedBlocksStayUntilReleased) {
  block_cache c(1024, 1024);
  int u;
  outcome o = request(c, kA, 0, 10, &u);
  disk(c, o.started, 1024);
  c.finish(o.started);
  block_cache::block* held = nullptr;
  const uint8_t* pinned = c.lookup(kA, 0, 1024, 3, &held);
  ASSERT_NE(pinned, nullptr);

  // The only block is in use: the next read gets a read buffer and stores nothing.
  outcome other = request(c, kA, 1024, 10, &u);
  ASSERT_NE(other.started, nullptr);
  disk(c, other.started, 1024);
  c.finish(other.started);
  EXPECT_TRUE(holds_file_bytes(pinned, 0, 1024));
  block_cache::block* h2 = nullptr;
  EXPECT_EQ(c.lookup(kA, 1024, 10, 3, &h2), nullptr);

  // Dropped while pinned: gone from the cache, its bytes valid until released.
  c.drop_file(kA);
  EXPECT_EQ(c.lookup(kA, 0, 10, 3, &h2), nullptr);
  EXPECT_TRUE(holds_file_bytes(pinned, 0, 1024));
  EXPECT_EQ(c.blocks_allocated(), 1u);
  c.release(held);
  EXPECT_EQ(c.blocks_allocated(), 0u);
}

TEST(BlockCache, DroppedFilesAreFreedAndStoreNothingLater) {
  block_cache c(64ull * kBs, kBs);
  int u;
  for (uint64_t i = 0; i < 4; ++i) {
    outcome o = request(c, kA, i * kBs, 10, &u);
    disk(c, o.started, kBs);
    c.finish(o.started);
  }
  outcome kept = request(c, kB, 0, 10, &u);
  disk(c, kept.started, kBs);
  c.finish(kept.started);
  outcome in_flight = request(c, kA, 10 * kBs, 10, &u);
  ASSERT_NE(in_flight.started, nullptr);
  EXPECT_EQ(c.blocks_allocated(), 6u);

  size_t dropped = 0;
  EXPECT_EQ(c.drop_file(kA, &dropped), 4ull * kBs);
  EXPECT_EQ(dropped, 4u);
  EXPECT_EQ(c.stored_bytes(), kBs);
  EXPECT_EQ(c.blocks_allocated(), 2u);
  EXPECT_FALSE(c.join(kA, 10 * kBs, 10, &u));  // a dropped file's read takes no new requests
  auto d = disk(c, in_flight.started, kBs);
  EXPECT_EQ(d[0].error, 0u);  // its first request still gets its bytes
  c.finish(in_flight.started);
  block_cache::block* held = nullptr;
  EXPECT_EQ(c.lookup(kA, 10 * kBs, 10, 3, &held), nullptr);
  EXPECT_NE(c.lookup(kB, 0, 10, 3, &held), nullptr);
  c.release(held);
}

TEST(BlockCache, ByteCountsGoPast32Bits) {
  block_cache c(1ull << 20, 1 << 20);
  int u;
  for (uint64_t i = 0; i < 5000; ++i) {
    outcome o = request(c, kA, i << 20, 10, &u);
    ASSERT_NE(o.started, nullptr);
    c.complete(o.started, 0, 1 << 20, 2);
    c.finish(o.started);
  }
  EXPECT_EQ(c.stats().stored_total, 5000ull << 20);
  EXPECT_EQ(c.stats().read_bytes, 5000ull << 20);
  EXPECT_EQ(c.stored_bytes(), 1ull << 20);
}

// A read longer than a block (a verify range, a run of blocks smaller than
// it) is read whole into a buffer of its own, not stored, and requests inside
// it join it; such buffers count against the read buffers' limit.
TEST(BlockCache, ReadsLongerThanABlock) {
  const uint32_t bs = 4096;
  block_cache c(1 << 20, bs);
  struct Row {
    const char* name;
    uint64_t offset;
    uint32_t length;
  };
  const Row rows[] = {
      {"a UDP run of 16 blocks of 1024", 16 * 1024, 16 * 1024},
      {"a verify of 300,000 bytes", 4096, 300000},
      {"unaligned and odd", 1000, 3 * bs + 7},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    int first, inside;
    outcome o = request(c, kA, r.offset, r.length, &first);
    ASSERT_NE(o.started, nullptr);
    EXPECT_EQ(c.read_offset(o.started), r.offset);
    EXPECT_EQ(c.read_length(o.started), r.length);
    EXPECT_TRUE(request(c, kA, r.offset + r.length - 100, 100, &inside).joined);
    EXPECT_EQ(c.read_buffer_bytes(), r.length);
    const std::vector<block_cache::delivery> d = disk(c, o.started, r.length);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].error, 0u);
    EXPECT_TRUE(holds_file_bytes(d[0].data, r.offset, r.length));
    EXPECT_TRUE(holds_file_bytes(d[1].data, r.offset + r.length - 100, 100));
    c.finish(o.started);
    EXPECT_EQ(c.read_buffer_bytes(), 0u);  // given back, not kept
    EXPECT_EQ(c.stored_bytes(), 0u);
  }
  // 5120 blocks of read buffers at most, however they are cut.
  int u;
  outcome big = request(c, kA, 0, 5000 * bs, &u);
  ASSERT_NE(big.started, nullptr);
  EXPECT_EQ(request(c, kB, 0, 200 * bs, &u).started, nullptr);
  c.complete(big.started, 0, 0, 2);
  c.finish(big.started);
  outcome again = request(c, kB, 0, 200 * bs, &u);
  EXPECT_NE(again.started, nullptr);
  c.complete(again.started, 0, 0, 2);
  c.finish(again.started);
}
