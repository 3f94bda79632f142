// UDP peer command bodies: getfiledata and its runs, data packets, verify
// answers, have-maps, call-me, swap version; rows checked against bodies the
// test doubles' codec (tests/lib/p2p_wire.py) builds.
#include "p2pcore/wire/peer_udp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "p2pcore/wire/tests/hex_bytes.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

const uint8_t kFid[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::vector<uint8_t> sample(size_t n) {
  std::vector<uint8_t> d(n);
  for (size_t i = 0; i < n; ++i) d[i] = uint8_t(i * 7 + 3);
  return d;
}

}  // namespace

TEST(PeerUdp, GetFileDataIndexes) {
  // From the doubles: blocks 7, 8, 9, 20, NAT type 0x12, request type 8.
  const std::vector<uint8_t> doubles =
      from_hex("1000000102030405060708090A0B0C0D0E0F550000000000000012080407000000080000000900000014000000");
  auto body = [](uint8_t declared, std::vector<uint32_t> blocks, size_t cut = 0) {
    std::vector<uint8_t> b = get_file_data_body(kFid, 0x55, 0x12, 0, blocks.data(), blocks.size());
    b[28] = declared;
    b.erase(b.end() - long(cut), b.end());
    return b;
  };
  struct Row {
    const char* name;
    std::vector<uint8_t> body;
    PeerError error;
    std::vector<uint32_t> blocks;
  };
  const Row rows[] = {
      {"doubles' request", doubles, PeerError::kNone, {7, 8, 9, 20}},
      {"16 blocks", body(16, std::vector<uint32_t>(16, 3)), PeerError::kNone, std::vector<uint32_t>(16, 3)},
      {"17 blocks are not served", body(17, std::vector<uint32_t>(17, 3)), PeerError::kCount, {}},
      {"no blocks", body(0, {}), PeerError::kNone, {}},
      {"missing indexes truncate", body(5, {1, 2}), PeerError::kNone, {1, 2}},
      {"a cut index truncates", body(3, {1, 2, 3}, 1), PeerError::kNone, {1, 2}},
      {"0xFFFFFFFF ends the list", body(3, {4, 0xFFFFFFFFu, 6}), PeerError::kNone, {4}},
      {"28 bytes", std::vector<uint8_t>(doubles.begin(), doubles.begin() + 28), PeerError::kShort, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    GetFileData g;
    EXPECT_EQ(parse_get_file_data(r.body.data(), r.body.size(), g), r.error);
    if (r.error != PeerError::kNone) continue;
    EXPECT_EQ(std::vector<uint32_t>(g.blocks, g.blocks + g.count), r.blocks);
    EXPECT_EQ(0, memcmp(g.file_hash, kFid, 16));
    EXPECT_EQ(g.user_id, 0x55u);
    EXPECT_EQ(g.nat_type, 0x12);
  }
  GetFileData g;
  ASSERT_EQ(parse_get_file_data(doubles.data(), doubles.size(), g), PeerError::kNone);
  EXPECT_EQ(g.request_type, 8);
  EXPECT_EQ(g.nat_word & 0xFFFF, 0x0812u);
}

TEST(PeerUdp, RunsAndReads) {
  struct Row {
    const char* name;
    std::vector<uint32_t> blocks;
    std::vector<std::pair<uint64_t, uint64_t>> reads;  // offset, length
  };
  const Row rows[] = {
      {"7, 8, 9, 20 make two reads", {7, 8, 9, 20}, {{7168, 3072}, {20480, 1024}}},
      {"descending indexes are runs of one", {3, 2, 1}, {{3072, 1024}, {2048, 1024}, {1024, 1024}}},
      {"a repeated index starts a new run", {5, 5, 6}, {{5120, 1024}, {5120, 2048}}},
      {"the last index never wraps to 0", {0xFFFFFFFEu, 0}, {{0xFFFFFFFEull * 1024, 1024}, {0, 1024}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::pair<uint64_t, uint64_t>> reads;
    for (const BlockRun& run : split_runs(r.blocks.data(), r.blocks.size()))
      reads.push_back({uint64_t(run.first) * kBlockBytes, uint64_t(run.count) * kBlockBytes});
    EXPECT_EQ(reads, r.reads);
  }
}

TEST(PeerUdp, PacketLengthsOfARun) {
  struct Row {
    const char* name;
    uint32_t usable;
    std::vector<uint32_t> lengths;
  };
  const Row rows[] = {
      {"2600 bytes of three blocks", 2600, {1024, 1024, 552}},
      {"exactly 3072", 3072, {1024, 1024, 1024}},
      {"a short read sends what it read", 1500, {1024, 476, 0}},
      {"nothing read", 0, {0, 0, 0}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint32_t> got;
    for (uint32_t k = 0; k < 3; ++k) got.push_back(run_packet_length(r.usable, k));
    EXPECT_EQ(got, r.lengths);
  }
}

TEST(PeerUdp, BlockPackets) {
  std::vector<uint8_t> data = sample(552);
  uint8_t out[kBlockPacketMax];
  for (uint32_t zeros = 1; zeros <= 5; ++zeros) {
    SCOPED_TRACE(zeros);
    size_t n = build_block_packet(out, sizeof out, kFid, 0x1122334455667788ull, 7, data.data(), 552, 9, zeros);
    ASSERT_EQ(n, 41 + 552 + (zeros - 1));
    BlockPacket p;
    ASSERT_EQ(parse_block_packet(out, n, p), PeerError::kNone);
    EXPECT_EQ(p.block, 7u);
    EXPECT_EQ(p.sender_id, 0x1122334455667788ull);
    EXPECT_EQ(p.sequence, 9u);
    ASSERT_EQ(p.length, 552);
    EXPECT_EQ(0, memcmp(p.data, data.data(), 552));
    out[100] ^= 1;
    EXPECT_EQ(parse_block_packet(out, n, p), PeerError::kValue);
  }
  std::vector<uint8_t> big = sample(1025);
  EXPECT_EQ(build_block_packet(out, sizeof out, kFid, 1, 1, big.data(), 1025, 0, 1), 0u);
  EXPECT_EQ(build_block_packet(out, sizeof out, kFid, 1, 1, big.data(), 1024, 0, 6), 0u);
  EXPECT_EQ(build_block_packet(out, 100, kFid, 1, 1, big.data(), 1024, 0, 1), 0u);
  // The doubles parse this packet (tests/p2p/test_p2p_wire.py holds it).
  const uint8_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  size_t n = build_block_packet(out, sizeof out, kFid, 0x1122334455667788ull, 7, ten, 10, 5, 3);
  EXPECT_EQ(to_hex(std::vector<uint8_t>(out, out + n)),
            "02C5B3599F000102030405060708090A0B0C0D0E0F887766554433221101070000000A00000102030405060708090500000000"
            "0000");
}

TEST(PeerUdp, VerifyAnswers) {
  const std::vector<uint8_t> request = from_hex(
      "3800000102030405060708090A0B0C0D0E0F0700000000040000640000000000000088130000000000007461696C30313233");
  const std::vector<uint8_t> expected = from_hex(
      "3900000102030405060708090A0B0C0D0E0F0700000000040000640000000000000088130000000000007461696C3031323333D971"
      "2CC5EB0BF18A41ED54A908E4126C0A586B2761EE383BB0E7639C4ED091538442EA7C0A58C20500C34788B2C34788B2C34788B2C347"
      "88B2471E72DB");
  VerifyRequest r;
  ASSERT_EQ(parse_verify_request(request.data(), request.size(), r), PeerError::kNone);
  EXPECT_EQ(r.start, 100u);
  EXPECT_EQ(r.length, 5000u);
  EXPECT_EQ(r.crc_unit, 1024u);
  const std::vector<uint8_t> data = sample(5000);
  std::vector<uint8_t> answer = verify_answer_body(r, data.data(), data.size());
  EXPECT_EQ(answer.size(), 112u);  // 5 chunk CRCs, the last over 904 bytes
  EXPECT_EQ(answer, expected);

  struct Row {
    const char* name;
    uint64_t length;
    uint32_t unit;
    uint32_t chunks;
  };
  const Row rows[] = {
      {"5000 by 1024", 5000, 1024, 5},
      {"8192 by 16 is 512: sent as 0", 8192, 16, 0},
      {"256 chunks are sent", 4096, 16, 256},
      {"unit 0", 5000, 0, 0},
      {"one byte", 1, 1024, 1},
  };
  for (const Row& c : rows) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(verify_chunk_count(c.length, c.unit), c.chunks);
  }
  EXPECT_EQ(parse_verify_request(request.data(), 49, r), PeerError::kShort);
}

TEST(PeerUdp, VerifyRangeIsCheckedBeforeAnyRead) {
  VerifyRequest r;
  struct Row {
    const char* name;
    uint64_t start, length;
    PeerError error;
  };
  const Row rows[] = {
      {"one block", 0, 1024, PeerError::kNone},
      {"the cache block size", 1 << 20, 262144, PeerError::kNone},
      {"one byte over", 0, 262145, PeerError::kRange},
      {"length 0", 0, 0, PeerError::kRange},
      {"a length no read buffer should get", 0, 1ull << 40, PeerError::kRange},
      {"a range that wraps", UINT64_MAX - 10, 100, PeerError::kRange},
  };
  for (const Row& c : rows) {
    SCOPED_TRACE(c.name);
    r.start = c.start;
    r.length = c.length;
    EXPECT_EQ(check_verify_range(r, 262144), c.error);
  }
}

TEST(PeerUdp, HaveMaps) {
  const std::vector<uint8_t> doubles = from_hex(
      "3400000102030405060708090A0B0C0D0E0F0000000000000000000400000800020000000000030000000A00000014000000");
  HaveMap m;
  ASSERT_EQ(parse_have_map(doubles.data(), doubles.size(), m), PeerError::kNone);
  EXPECT_EQ(m.unit, 1024u);
  EXPECT_EQ(m.width, 8);
  EXPECT_EQ(m.count, 2);
  EXPECT_EQ(have_map_bytes(m), (3u + 10u) * 1024u);

  auto with = [&](uint16_t width, uint16_t count, size_t extra) {
    std::vector<uint8_t> b(kHaveMapHead + size_t(width) * count + extra, 0);
    store_u32le(b.data() + 26, 1024);
    b[30] = uint8_t(width);
    b[31] = uint8_t(width >> 8);
    b[32] = uint8_t(count);
    b[33] = uint8_t(count >> 8);
    return b;
  };
  struct Row {
    const char* name;
    std::vector<uint8_t> body;
    PeerError udp, tcp;
  };
  const Row rows[] = {
      {"the head alone", with(8, 0, 0), PeerError::kNone, PeerError::kNone},
      {"1300 entry bytes", with(4, 325, 0), PeerError::kNone, PeerError::kNone},
      {"1304 entry bytes", with(8, 163, 0), PeerError::kCount, PeerError::kNone},
      {"width 6", with(6, 2, 0), PeerError::kValue, PeerError::kNone},
      {"one byte more than it counts", with(8, 2, 1), PeerError::kLength, PeerError::kLength},
      {"33 bytes", std::vector<uint8_t>(33, 0), PeerError::kShort, PeerError::kShort},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(parse_have_map(r.body.data(), r.body.size(), m), r.udp);
    EXPECT_EQ(parse_finish_range(r.body.data(), r.body.size(), m), r.tcp);
  }

  // Our own map covers the whole file in 1024-byte units.
  std::vector<uint8_t> full = full_have_map_body(kPeerHaveMapAnswer, kFid, 5000);
  ASSERT_EQ(parse_have_map(full.data(), full.size(), m), PeerError::kNone);
  EXPECT_EQ(have_map_bytes(m), 5u * 1024u);
  EXPECT_EQ(m.flag, 0);
  // A map that claims more than 64 bits of bytes saturates.
  std::vector<uint8_t> huge = have_map_body(kPeerHaveMap, kFid, 0, 0xFFFFFFFFu, 16, {{0, UINT64_MAX}});
  ASSERT_EQ(parse_have_map(huge.data(), huge.size(), m), PeerError::kNone);
  EXPECT_EQ(have_map_bytes(m), UINT64_MAX);
}

TEST(PeerUdp, CallMeAndAnswers) {
  const std::vector<uint8_t> doubles = from_hex(
      "090008070605040302010A010203A00F130102030400000102030405060708090A0B0C0D0E0F8813000000000000004D000000000000"
      "007F0000015146");
  CallMe c;
  ASSERT_EQ(parse_call_me(doubles.data(), doubles.size(), c), PeerError::kNone);
  EXPECT_EQ(c.peer_id, 0x0102030405060708ull);
  EXPECT_EQ(c.peer_ip, 0x0302010Au);  // 10.1.2.3, first octet lowest
  EXPECT_EQ(c.peer_port, 4000);
  EXPECT_EQ(c.nat_type, 0x13);
  EXPECT_EQ(c.file_size, 5000u);
  EXPECT_EQ(c.target_id, 77u);
  EXPECT_EQ(c.target_port, 18001);
  EXPECT_FALSE(c.has_version);
  EXPECT_EQ(parse_call_me(doubles.data(), 60, c), PeerError::kShort);

  c.has_version = true;
  std::memcpy(c.version + 8, "peer.exe", 8);
  std::vector<uint8_t> v2 = call_me_body(kPeerCallMe2, c);
  ASSERT_EQ(v2.size(), kCallMe2Size);
  CallMe back;
  ASSERT_EQ(parse_call_me(v2.data(), v2.size(), back), PeerError::kNone);
  EXPECT_TRUE(back.has_version);
  EXPECT_EQ(0, memcmp(back.version, c.version, 40));
  EXPECT_EQ(parse_call_me(v2.data(), kCallMe2Size - 1, back), PeerError::kShort);

  std::vector<uint8_t> hs = handshake_answer_body(kFid, 42, 5000, 0x11, kHandshakeFull);
  ASSERT_EQ(hs.size(), kHandshakeAnswerSize);
  EXPECT_EQ(hs[0], kPeerHandshakeAnswer);
  EXPECT_EQ(hs[35], kHandshakeFull);
  std::vector<uint8_t> choke = choke_notice_body(kFid);
  EXPECT_EQ(to_hex(choke), "24002C010000000102030405060708090A0B0C0D0E0F");
}

TEST(PeerUdp, SwapVersion) {
  SwapVersion v;
  std::memcpy(v.file_hash, kFid, 16);
  v.user_id = 99;
  v.version = 0x24030001;
  v.build = 36;
  std::snprintf(v.program, sizeof v.program, "%s", "a-program-name-of-exactly-31-ch");
  std::vector<uint8_t> b = swap_version_body(kPeerSwapVersion, v);
  ASSERT_EQ(b.size(), kSwapVersionSize);
  b[73] = 'X';  // past the 31 characters: never part of the name
  SwapVersion back;
  ASSERT_EQ(parse_swap_version(b.data(), b.size(), back), PeerError::kNone);
  EXPECT_STREQ(back.program, "a-program-name-of-exactly-31-ch");
  EXPECT_EQ(back.build, 36u);
  uint8_t info[40];
  swap_version_info(back, info);
  EXPECT_EQ(load_u32le(info), 0x24030001u);
  EXPECT_EQ(load_u32le(info + 4), 36u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(info + 8)), "a-program-name-of-exactly-31-ch");
  EXPECT_EQ(parse_swap_version(b.data(), 105, back), PeerError::kShort);
}

TEST(PeerUdp, RandomBodiesAreSafe) {
  std::mt19937 gen(1212);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> b(gen() % 200);
    for (uint8_t& x : b) x = uint8_t(gen());
    GetFileData g;
    if (parse_get_file_data(b.data(), b.size(), g) == PeerError::kNone) {
      ASSERT_LE(g.count, kMaxBlocksPerRequest);
      ASSERT_LE(kGetFileDataHead + 4 * size_t(g.count), b.size());
    }
    HaveMap m;
    if (parse_have_map(b.data(), b.size(), m) == PeerError::kNone) have_map_bytes(m);
    if (parse_finish_range(b.data(), b.size(), m) == PeerError::kNone) have_map_bytes(m);
    CallMe c;
    parse_call_me(b.data(), b.size(), c);
    VerifyRequest r;
    parse_verify_request(b.data(), b.size(), r);
    BlockPacket p;
    parse_block_packet(b.data(), b.size(), p);
  }
}
