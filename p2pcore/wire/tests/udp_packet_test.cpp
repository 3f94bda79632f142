// UDP packet layers: round trips, the receiver's checks, damaged and random datagrams.
#include "p2pcore/wire/udp_packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "p2pcore/wire/tests/hex_bytes.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

std::vector<uint8_t> sample_body(size_t n, uint16_t code = 6) {
  std::vector<uint8_t> b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 7 + 3);
  b[0] = static_cast<uint8_t>(code);
  b[1] = static_cast<uint8_t>(code >> 8);
  return b;
}

// An outer layer with any pad count, built by hand so that counts the sender
// never uses (8, 9) can be tried on the receiver.
std::vector<uint8_t> outer_by_hand(const std::vector<uint8_t>& inner, uint8_t pad_count) {
  std::vector<uint8_t> d(5 + pad_count);
  d[4] = pad_count;
  for (uint8_t i = 0; i < pad_count; ++i) d[5 + i] = static_cast<uint8_t>(0xA0 + i);
  d.insert(d.end(), inner.begin(), inner.end());
  uint32_t check = udp_crc(d.data() + 4, d.size() - 4);
  for (size_t i = 4; i < d.size(); ++i) d[i] ^= udp_mask_tables().outer[(check + i - 4) & 1023];
  store_u32le(d.data(), check);
  return d;
}

}  // namespace

TEST(UdpPacket, CommandRoundTripWithEveryPad) {
  std::vector<uint8_t> body = sample_body(46);
  std::vector<uint8_t> inner = build_command_packet(0x1122334455667788ull, 42, body.data(), body.size());
  ASSERT_EQ(inner.size(), kUdpHeaderSize + body.size());
  const uint8_t pad[7] = {1, 2, 3, 4, 5, 6, 7};
  for (uint8_t n = 0; n <= kUdpMaxPadSent; ++n) {
    SCOPED_TRACE(testing::Message() << "pad " << int(n));
    std::vector<uint8_t> d = wrap_outer(inner, pad, n);
    ASSERT_EQ(d.size(), 5u + n + inner.size());
    UdpChecked r = check_datagram(d.data(), d.size());
    ASSERT_EQ(r.result, UdpCheck::kCommand);
    EXPECT_TRUE(r.outer);
    EXPECT_EQ(r.command, 6);
    EXPECT_EQ(r.user_id, 0x1122334455667788ull);
    EXPECT_EQ(r.sequence, 42u);
    ASSERT_EQ(r.body_length(), body.size());
    EXPECT_EQ(0, memcmp(r.body(), body.data(), body.size()));
  }
}

TEST(UdpPacket, ReceiverChecks) {
  std::vector<uint8_t> body = sample_body(23, 1);
  std::vector<uint8_t> inner = build_command_packet(0, 7, body.data(), body.size());
  std::vector<uint8_t> seq_changed = inner;
  seq_changed[14] ^= 0x01;  // the check value covers the sequence number
  std::vector<uint8_t> short_inner(7, 0x01);
  struct Row {
    const char* name;
    std::vector<uint8_t> datagram;
    UdpCheck expected;  // kUnknownProtocol with any_rejection: any result but kCommand
    bool outer;
    bool any_rejection = false;
  };
  const Row rows[] = {
      {"pad 8 is accepted", outer_by_hand(inner, 8), UdpCheck::kCommand, true},
      {"pad 9 fails the outer check and the inner one", outer_by_hand(inner, 9), UdpCheck::kUnknownProtocol, false, true},
      {"bare inner packet", inner, UdpCheck::kCommand, false},
      {"changed sequence number", seq_changed, UdpCheck::kCommandCrc, false},
      {"outer valid, inner shorter than its header", outer_by_hand(short_inner, 8), UdpCheck::kInnerTooShort, true},
      {"19 bytes", std::vector<uint8_t>(19, 1), UdpCheck::kBadLength, false},
      {"1501 bytes", std::vector<uint8_t>(1501, 1), UdpCheck::kBadLength, false},
      {"unknown protocol", std::vector<uint8_t>(40, 3), UdpCheck::kUnknownProtocol, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> d = r.datagram;
    UdpChecked c = check_datagram(d.data(), d.size());
    if (r.any_rejection) {
      EXPECT_NE(c.result, UdpCheck::kCommand);
    } else {
      EXPECT_EQ(c.result, r.expected);
    }
    EXPECT_EQ(c.outer, r.outer);
  }
}

TEST(UdpPacket, CommandPacketWithoutCommandCodeIsDropped) {
  // A valid 20-byte header with nothing after it carries no command.
  uint8_t p[20] = {1, 1, 0, 0, 0, 0};
  uint32_t check = udp_crc(p + 6, 14);
  for (size_t i = 6; i < 20; ++i) p[i] ^= udp_mask_tables().inner[(check + i - 6) & 1023];
  store_u32le(p + 2, check);
  EXPECT_EQ(check_datagram(p, sizeof p).result, UdpCheck::kInnerTooShort);
}

TEST(UdpPacket, BuilderMakesOnlyPacketsTheReceiverTakes) {
  // The receiver needs the 2-byte command code after the header, so a
  // 1-byte body must be refused at the builder, not sent and dropped.
  struct Row { const char* name; size_t body_len; bool built; };
  const Row rows[] = {
      {"empty body", 0, false},
      {"1 byte, half a command code", 1, false},
      {"command code only", 2, true},
      {"largest body", kUdpMaxCommandBody, true},
      {"one byte more", kUdpMaxCommandBody + 1, false},
  };
  const uint8_t pad[7] = {};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> body(r.body_len, 0x06);
    std::vector<uint8_t> inner = build_command_packet(3, 4, body.data(), body.size());
    EXPECT_EQ(!inner.empty(), r.built);
    if (inner.empty()) continue;
    std::vector<uint8_t> d = wrap_outer(inner, pad, kUdpMaxPadSent);
    ASSERT_FALSE(d.empty());
    EXPECT_EQ(check_datagram(d.data(), d.size()).result, UdpCheck::kCommand);
    EXPECT_EQ(check_datagram(inner.data(), inner.size()).result, UdpCheck::kCommand);
  }
}

TEST(UdpPacket, DataPacketLengths) {
  const uint8_t hash[16] = {9, 8, 7};
  struct Row { const char* name; size_t data_len; bool damage; UdpCheck expected; };
  const Row rows[] = {
      {"35 bytes dropped", 14, false, UdpCheck::kDataShort},
      {"36 bytes checked", 15, false, UdpCheck::kData},
      {"36 bytes damaged", 15, true, UdpCheck::kDataCrc},
      {"a block", 1024, false, UdpCheck::kData},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> data(r.data_len, 0x5A);
    std::vector<uint8_t> p = build_data_packet(hash, data.data(), data.size());
    ASSERT_EQ(p.size(), kUdpDataHeaderSize + r.data_len);
    if (r.damage) p.back() ^= 0x80;
    UdpChecked c = check_datagram(p.data(), p.size());
    EXPECT_EQ(c.result, r.expected);
    if (c.result == UdpCheck::kData) {
      EXPECT_EQ(0, memcmp(c.packet + 5, hash, 16));
    }
  }
}

TEST(UdpPacket, SizeLimits) {
  std::vector<uint8_t> big = sample_body(kUdpMaxCommandBody);
  std::vector<uint8_t> inner = build_command_packet(1, 1, big.data(), big.size());
  ASSERT_FALSE(inner.empty());
  const uint8_t pad[7] = {};
  std::vector<uint8_t> d = wrap_outer(inner, pad, 7);
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(check_datagram(d.data(), d.size()).result, UdpCheck::kCommand);

  std::vector<uint8_t> too_big = sample_body(kUdpMaxCommandBody + 1);
  EXPECT_TRUE(build_command_packet(1, 1, too_big.data(), too_big.size()).empty());
  EXPECT_TRUE(build_command_packet(1, 1, nullptr, 4).empty());
  EXPECT_TRUE(wrap_outer(inner, pad, 8).empty());
}

TEST(UdpPacket, EveryDamagedByteIsRejected) {
  std::vector<uint8_t> body = sample_body(44, 3);
  std::vector<uint8_t> inner = build_command_packet(99, 1234, body.data(), body.size());
  const uint8_t pad[3] = {0x10, 0x20, 0x30};
  const std::vector<uint8_t> good = wrap_outer(inner, pad, 3);
  for (size_t i = 0; i < good.size(); ++i) {
    for (uint8_t bit : {0x01, 0x80}) {
      std::vector<uint8_t> d = good;
      d[i] ^= bit;
      UdpChecked c = check_datagram(d.data(), d.size());
      if (c.result == UdpCheck::kCommand) ADD_FAILURE() << "byte " << i << " bit " << int(bit) << " accepted";
    }
  }
  for (size_t cut = 1; cut < good.size(); ++cut) {
    std::vector<uint8_t> d(good.begin(), good.end() - cut);
    UdpChecked c = check_datagram(d.data(), d.size());
    if (c.result == UdpCheck::kCommand) ADD_FAILURE() << "cut by " << cut << " accepted";
  }
}

TEST(UdpPacket, RandomDatagramsAreSafe) {
  std::mt19937 gen(20261210);
  std::vector<uint8_t> body = sample_body(40);
  std::vector<uint8_t> inner = build_command_packet(5, 5, body.data(), body.size());
  const uint8_t pad[7] = {};
  std::vector<uint8_t> valid = wrap_outer(inner, pad, 2);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> d;
    if (round % 2) {
      d.resize(gen() % 1600);
      for (uint8_t& b : d) b = static_cast<uint8_t>(gen());
    } else {
      // Valid datagrams with a few random bytes changed or cut short.
      d = valid;
      for (int k = gen() % 4; k >= 0; --k) d[gen() % d.size()] = static_cast<uint8_t>(gen());
      d.resize(d.size() - gen() % 8);
    }
    UdpChecked c = check_datagram(d.data(), d.size());
    if (c.result == UdpCheck::kCommand) {
      ASSERT_GE(c.length, kUdpHeaderSize + 2);
      ASSERT_LE(c.packet + c.length, d.data() + d.size());
      ASSERT_GE(c.packet, d.data());
    }
  }
}

TEST(UdpPacket, MatchesTheTestDoublesCodec) {
  // Built by the independent codec of the P2P test doubles (tests/lib/p2p_wire.py):
  // keepalive code 6 with bytes 1..10, user id 0x1122334455667788, sequence
  // 0x01020304, pad AA BB CC.
  const std::vector<uint8_t> inner = from_hex("0101F11FB82DE10F81746BA2C58337CB01FA858587A9BAF25E2854A1C864F9EF");
  const std::vector<uint8_t> datagram =
      from_hex("EBE40B6BCA346A4CF9F5D206F3F044821111866905E31155F0058826C1A088FB425E26EA8C0DA5AF");
  const uint8_t body[12] = {6, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const uint8_t pad[3] = {0xAA, 0xBB, 0xCC};
  std::vector<uint8_t> built = build_command_packet(0x1122334455667788ull, 0x01020304, body, sizeof body);
  EXPECT_EQ(built, inner);
  EXPECT_EQ(wrap_outer(built, pad, 3), datagram);
  std::vector<uint8_t> d = datagram;
  UdpChecked c = check_datagram(d.data(), d.size());
  ASSERT_EQ(c.result, UdpCheck::kCommand);
  EXPECT_TRUE(c.outer);
  EXPECT_EQ(c.sequence, 0x01020304u);
  EXPECT_EQ(std::vector<uint8_t>(c.body(), c.body() + c.body_length()), std::vector<uint8_t>(body, body + 12));
}
