// TCP peer protocol bodies: Check_Have, Req_data ranges and their pieces, block
// answer frames, the answer and back-off bodies.
#include "p2pcore/wire/peer_tcp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>

#include "p2pcore/wire/tests/hex_bytes.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

const uint8_t kFid[16] = {0xA0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::vector<DataRange> ranges_of(size_t n) {
  std::vector<DataRange> r;
  for (size_t i = 0; i < n; ++i) r.push_back({uint32_t(i * 10), uint32_t(i * 10 + 1)});
  return r;
}

}  // namespace

TEST(PeerTcp, CheckHave) {
  std::vector<uint8_t> b = check_have_body(0x0102030405060708ull, kFid, 77);
  ASSERT_EQ(b.size(), kCheckHaveSize);
  for (size_t i = 54; i < 166; ++i) b[i] = uint8_t(i);
  CheckHave c;
  ASSERT_EQ(parse_check_have(b.data(), b.size(), c), PeerError::kNone);
  EXPECT_EQ(c.user_id, 0x0102030405060708ull);
  EXPECT_EQ(0, memcmp(c.fid, kFid, 16));
  EXPECT_EQ(c.value184, 77u);
  EXPECT_EQ(c.request_header[0], 54);
  EXPECT_EQ(c.request_header[111], 165);
  for (size_t n : {size_t(0), size_t(255), size_t(257)}) {
    SCOPED_TRACE(n);
    b.resize(n);
    EXPECT_EQ(parse_check_have(b.data(), b.size(), c), PeerError::kLength);
  }
  std::vector<uint8_t> answer = check_have_answer_body(0, kFid, 5000, 42, 0x11);
  ASSERT_EQ(answer.size(), kCheckHaveAnswerSize);
  CheckHaveAnswer a;
  ASSERT_EQ(parse_check_have_answer(answer.data(), answer.size(), a), PeerError::kNone);
  EXPECT_EQ(a.file_size, 5000u);
  EXPECT_EQ(a.own_id, 42u);
}

TEST(PeerTcp, ReqDataBodies) {
  // From the doubles: request 9, ranges 1-600 and 700-700.
  const std::vector<uint8_t> doubles = from_hex("0900000000000000020000000100000058020000BC020000BC020000");
  std::vector<uint8_t> short_body = req_data_body(1, ranges_of(3));
  short_body.resize(short_body.size() - 1);
  std::vector<uint8_t> counts_more = req_data_body(1, ranges_of(2));
  counts_more[8] = 5;
  struct Row {
    const char* name;
    std::vector<uint8_t> body;
    PeerError error;
    size_t ranges;
  };
  const Row rows[] = {
      {"doubles' request", doubles, PeerError::kNone, 2},
      {"64 ranges accepted", req_data_body(1, ranges_of(64)), PeerError::kNone, 64},
      {"65 ranges refused", req_data_body(1, ranges_of(65)), PeerError::kCount, 0},
      {"no ranges", req_data_body(1, {}), PeerError::kNone, 0},
      {"one byte short of its last range", short_body, PeerError::kLength, 0},
      {"counts ranges it does not hold", counts_more, PeerError::kLength, 0},
      {"11 bytes", std::vector<uint8_t>(11, 0), PeerError::kShort, 0},
      {"a count near 2^32", from_hex("010000000000000000000001"), PeerError::kCount, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ReqData d;
    EXPECT_EQ(parse_req_data(r.body.data(), r.body.size(), d), r.error);
    EXPECT_EQ(d.ranges.size(), r.ranges);
  }
  ReqData d;
  ASSERT_EQ(parse_req_data(doubles.data(), doubles.size(), d), PeerError::kNone);
  EXPECT_EQ(d.request_id, 9u);
  EXPECT_EQ(d.ranges[0].first, 1u);
  EXPECT_EQ(d.ranges[0].last, 600u);
}

TEST(PeerTcp, Pieces) {
  struct Piece {
    uint64_t first, last;
    uint32_t length;  // cut at the end of the file, 0 past it
    bool operator==(const Piece& o) const { return first == o.first && last == o.last && length == o.length; }
  };
  struct Row {
    const char* name;
    std::vector<DataRange> ranges;
    uint32_t piece_blocks;
    uint64_t file_size;
    PeerError error;
    std::vector<Piece> pieces;
  };
  const uint32_t K = 1024;
  const Row rows[] = {
      {"1-600 at 256", {{1, 600}}, 256, 1000 * K, PeerError::kNone,
       {{1, 256, 256 * K}, {257, 512, 256 * K}, {513, 600, 88 * K}}},
      {"one block", {{5, 5}}, 256, 6 * K, PeerError::kNone, {{5, 5, K}}},
      {"aligned cache blocks", {{0, 511}}, 256, 512 * K, PeerError::kNone, {{0, 255, 256 * K}, {256, 511, 256 * K}}},
      {"two ranges", {{0, 1}, {10, 12}}, 2, 100 * K, PeerError::kNone, {{0, 1, 2 * K}, {10, 11, 2 * K}, {12, 12, K}}},
      {"first after last", {{9, 3}}, 256, 100 * K, PeerError::kRange, {}},
      {"ends at the last block of the file", {{99, 99}}, 256, 100 * K, PeerError::kNone, {{99, 99, K}}},
      {"90-120 of 100,000 bytes: cut at its end", {{90, 120}}, 256, 100000, PeerError::kNone, {{90, 120, 7840}}},
      {"0-20 of 10,000 bytes", {{0, 20}}, 256, 10000, PeerError::kNone, {{0, 20, 10000}}},
      {"the second piece starts inside the file", {{700, 1150}}, 256, 1000000, PeerError::kNone,
       {{700, 955, 256 * K}, {956, 1150, 1000000 - 956 * K}}},
      {"a piece that starts past the end reads nothing", {{900, 1300}}, 256, 1000000, PeerError::kNone,
       {{900, 1155, 1000000 - 900 * K}, {1156, 1300, 0}}},
      {"a range past the end", {{98, 120}}, 256, 100000, PeerError::kNone, {{98, 120, 0}}},
      {"a file not shared (size 0)", {{0, 0}}, 256, 0, PeerError::kNone, {{0, 0, 0}}},
      {"more pieces than allowed", {{0, 4095}}, 1, 100000 * K, PeerError::kCount, {}},
      {"the whole 32-bit range in a huge file", {{0, 0xFFFFFFFFu}}, 256, 1ull << 43, PeerError::kCount, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ReqData d;
    d.request_id = 3;
    d.ranges = r.ranges;
    std::vector<DataPiece> pieces;
    EXPECT_EQ(cut_pieces(d, r.piece_blocks, r.file_size, 1024, pieces), r.error);
    std::vector<Piece> got;
    for (const DataPiece& p : pieces) {
      got.push_back({p.first_block, p.last_block, p.length});
      EXPECT_EQ(p.request_id, 3u);
    }
    EXPECT_TRUE(got == r.pieces);
    for (size_t i = 0; i < got.size() && i < r.pieces.size(); ++i)
      EXPECT_EQ(got[i].length, r.pieces[i].length) << "piece " << i;
  }
  EXPECT_EQ(file_blocks(0), 0u);
  EXPECT_EQ(file_blocks(1024), 1u);
  EXPECT_EQ(file_blocks(1025), 2u);
}

TEST(PeerTcp, BlockAnswerFrames) {
  struct Row {
    const char* name;
    uint64_t first;
    uint32_t length;
    std::vector<std::pair<uint32_t, uint16_t>> frames;  // block, length
  };
  const Row rows[] = {
      {"10,000 bytes", 100, 10000, {{100, 4096}, {104, 4096}, {108, 1808}}},
      {"exactly 4096", 7, 4096, {{7, 4096}}},
      {"nothing", 7, 0, {}},
      {"a cache block", 0, 262144, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<BlockFrame> frames = block_frames(r.first, r.length);
    uint32_t offset = 0;
    for (const BlockFrame& f : frames) {
      EXPECT_EQ(f.offset, offset);
      offset += f.length;
    }
    EXPECT_EQ(offset, r.length);
    if (r.length == 262144) {
      EXPECT_EQ(frames.size(), 64u);
      continue;
    }
    std::vector<std::pair<uint32_t, uint16_t>> got;
    for (const BlockFrame& f : frames) got.push_back({f.block, f.length});
    EXPECT_EQ(got, r.frames);
  }
  uint8_t head[kBlockFrameHead];
  block_frame_head({108, 8192, 1808}, head);
  EXPECT_EQ(load_u32le(head), 108u);
  EXPECT_EQ(head[4] | (head[5] << 8), 1808);
  std::vector<uint8_t> back = back_off_body(0, kBackOffMs);
  EXPECT_EQ(back, from_hex("0000000060EA0000"));
}

TEST(PeerTcp, RandomBodiesAreSafe) {
  std::mt19937 gen(77);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> b(gen() % 700);
    for (uint8_t& x : b) x = uint8_t(gen());
    if (round % 3 == 0 && b.size() >= 12) b[8] = uint8_t(gen() % 70), b[9] = b[10] = b[11] = 0;
    ReqData d;
    if (parse_req_data(b.data(), b.size(), d) == PeerError::kNone) {
      ASSERT_LE(kReqDataHead + 8 * d.ranges.size(), b.size());
      std::vector<DataPiece> pieces;
      cut_pieces(d, 256, 1 + gen() % 100000, 256, pieces);
      ASSERT_LE(pieces.size(), 256u);
    }
    CheckHave c;
    parse_check_have(b.data(), b.size(), c);
  }
}
