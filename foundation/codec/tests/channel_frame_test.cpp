// Channel checksum, mask and scrambling: known bytes, round trips across the
// mask's wrap, tampering, and the receiver's total check.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/codec/crc32.h"

#include "foundation/codec/channel_frame.h"
#include "foundation/codec/tests/test_hex.h"

class ChannelFrame : public ::testing::Test {
 protected:
  void SetUp() override { IpcBuildMask(); }
};

TEST_F(ChannelFrame, MaskComesFromBothTables) {
  // Word 0 is (crc[0] >> 8) + salt[255]; word 255 is (crc[255] >> 8) + salt[0].
  EXPECT_EQ(ToHex(ChannelMask, 8), "99c141192acd05d3");
  EXPECT_EQ(ToHex(ChannelMask + 1016, 8), "6262c2d85c3f9f28");
}

TEST_F(ChannelFrame, EncodeKnownBodies) {
  struct Row {
    const char* name;
    std::vector<uint8_t> body;
    uint32_t checksum;
    const char* scrambled;
  };
  const Row rows[] = {
      {"empty", {}, 0xFFFFFFFEu, ""},
      {"abc", {'a', 'b', 'c'}, 0xCB19D40Au, "462ccd"},
      {"command 129", {0x81, 0x00}, 0x85A5754Bu, "978a"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> body = r.body;
    EXPECT_EQ(IpcEncodeBody(body.data(), uint32_t(body.size())), r.checksum);
    EXPECT_EQ(ToHex(body.data(), body.size()), r.scrambled);
    EXPECT_TRUE(IpcDecodeBody(body.data(), uint32_t(body.size()), r.checksum));
    EXPECT_EQ(body, r.body);
  }
}

// Bodies longer than the mask reuse it from the start: index (checksum + i) mod 1024.
TEST_F(ChannelFrame, RoundTripAcrossMaskWrap) {
  static const size_t kSizes[] = {1, 1023, 1024, 1025, 5000};
  for (size_t n : kSizes) {
    SCOPED_TRACE("size " + std::to_string(n));
    const std::vector<uint8_t> plain = PatternBytes(n);
    std::vector<uint8_t> body = plain;
    const uint32_t checksum = IpcEncodeBody(body.data(), uint32_t(n));
    EXPECT_NE(body, plain);
    const size_t step = n > 1024 ? 1024 : 0;
    for (size_t i = 0; i + step < n && step; ++i)
      ASSERT_EQ(body[i] ^ plain[i], body[i + step] ^ plain[i + step]) << "byte " << i;
    EXPECT_TRUE(IpcDecodeBody(body.data(), uint32_t(n), checksum));
    EXPECT_EQ(body, plain);
  }
}

TEST_F(ChannelFrame, DecodeRejectsTampering) {
  const std::vector<uint8_t> plain = PatternBytes(100);
  struct Row {
    const char* name;
    size_t flipByte;  // index of a body byte to flip, or SIZE_MAX
    uint32_t checksumDelta;
  };
  static const Row rows[] = {
      {"body byte flipped", 17, 0},
      {"last body byte flipped", 99, 0},
      {"checksum off by one", SIZE_MAX, 1},
      {"checksum off by the mask size", SIZE_MAX, 1024},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> body = plain;
    const uint32_t checksum = IpcEncodeBody(body.data(), uint32_t(body.size()));
    if (r.flipByte != SIZE_MAX) body[r.flipByte] ^= 0x40;
    EXPECT_FALSE(IpcDecodeBody(body.data(), uint32_t(body.size()), checksum + r.checksumDelta));
  }
}

// Encoding and decoding against the definition, byte by byte: the checksum
// is the CRC of the plain body and byte i goes through mask byte
// (checksum + i) mod 1024. Random bodies, of lengths around the mask size
// and the pieces decoding works in, with right and wrong checksums.
TEST_F(ChannelFrame, MatchesTheByteByByteDefinition) {
  std::mt19937 random(20261210);
  std::vector<uint32_t> lengths = {0, 1, 7, 8, 31, 32, 33, 255, 256, 1023, 1024, 1025, 4095, 4096, 4097, 8192, 70001};
  for (int i = 0; i < 40; ++i) lengths.push_back(random() % 20000);
  for (uint32_t n : lengths) {
    SCOPED_TRACE("length " + std::to_string(n));
    std::vector<uint8_t> plain(n);
    for (auto& b : plain) b = uint8_t(random());
    const uint32_t checksum = Crc32Update(plain.data(), n);
    std::vector<uint8_t> scrambled = plain;
    for (uint32_t i = 0; i < n; ++i) scrambled[i] ^= ChannelMask[(checksum + i) % kChannelMaskSize];

    std::vector<uint8_t> body = plain;
    ASSERT_EQ(IpcEncodeBody(body.data(), n), checksum);
    ASSERT_EQ(body, scrambled);
    ASSERT_TRUE(IpcDecodeBody(body.data(), n, checksum));
    ASSERT_EQ(body, plain);

    // A wrong checksum still unscrambles with the checksum given, and fails.
    const uint32_t wrong = checksum ^ (1u + random() % 0xFFFFu);
    body = scrambled;
    EXPECT_EQ(IpcDecodeBody(body.data(), n, wrong), n == 0 && wrong == kCrc32ChannelStart);
    for (uint32_t i = 0; i < n; ++i)
      ASSERT_EQ(body[i], uint8_t(scrambled[i] ^ ChannelMask[(wrong + i) % kChannelMaskSize])) << "byte " << i;
  }
}

// A body scrambled, or checked, in pieces of any size gives the bytes and
// the verdict of the whole-body forms: a sender scrambles and a receiver
// checks each piece as it goes out or comes in.
TEST_F(ChannelFrame, PiecesMatchTheWholeBody) {
  std::mt19937 random(20261212);
  struct Row {
    const char* name;
    uint32_t length;
    uint32_t piece;
  };
  static const Row rows[] = {
      {"byte by byte", 3000, 1},           {"odd pieces across the mask", 5000, 333},
      {"pieces of the mask size", 4096, 1024}, {"pieces of the check's run", 20000, 4096},
      {"one large piece and a tail", 70001, 65536}, {"an empty body", 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> plain(r.length);
    for (auto& b : plain) b = uint8_t(random());
    std::vector<uint8_t> whole = plain;
    const uint32_t checksum = IpcEncodeBody(whole.data(), r.length);
    std::vector<uint8_t> pieces = plain;
    for (uint32_t at = 0; at < r.length; at += r.piece)
      ChannelScrambleAt(pieces.data() + at, std::min(r.piece, r.length - at), checksum, at);
    ASSERT_EQ(pieces, whole);

    for (const bool spoil : {false, true}) {
      SCOPED_TRACE(spoil ? "a byte spoiled" : "as sent");
      std::vector<uint8_t> received = whole;
      if (spoil && r.length > 0) received[r.length / 2] ^= 1;
      ChannelBodyCheck check(checksum);
      for (uint32_t at = 0; at < r.length; at += r.piece)
        check.Take(received.data() + at, std::min(r.piece, r.length - at));
      EXPECT_EQ(check.Matches(), !spoil || r.length == 0);
      if (!spoil) {
        EXPECT_EQ(received, plain);
      }
    }
  }
}

TEST(ChannelTotal, Acceptable) {
  struct Row {
    uint32_t total;
    bool ok;
  };
  static const Row rows[] = {
      {0, false}, {3, false}, {4, true}, {5, true},
      {kChannelMaxTotal, true}, {kChannelMaxTotal + 1, false}, {0xFFFFFFFFu, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE("total " + std::to_string(r.total));
    EXPECT_EQ(ChannelTotalAcceptable(r.total), r.ok);
  }
  // Requests have a bound of their own, far below a reply's.
  EXPECT_TRUE(ChannelTotalAcceptable(kChannelMaxRequestTotal, kChannelMaxRequestTotal));
  EXPECT_FALSE(ChannelTotalAcceptable(kChannelMaxRequestTotal + 1, kChannelMaxRequestTotal));
}
