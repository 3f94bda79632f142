// The download side's bodies: the peer query's bytes, peer-list entries read
// only within the datagram, handshake answers and the task's have-map record.
#include "p2pcore/wire/peer_fetch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/text/address_text.h"
#include "foundation/text/hex_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/wire/peer_udp.h"
#include "p2pcore/wire/udp_packet.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

const uint8_t kHash[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::string hex(const std::vector<uint8_t>& b) { return HexText(b.data(), b.size()); }

// A peer list as the super node sends it: head, then `entries` entries of
// 31 or 33 bytes, with `count` in the head.
std::vector<uint8_t> peer_list(uint16_t code, uint16_t count, int entries) {
  WireWriter w;
  w.u16(code).u64(77).bytes(kHash, 16).u16(count);
  for (int i = 0; i < entries; ++i) {
    w.u64(1000 + i).u32(0x0100007F).u16(uint16_t(7000 + i));  // address in use
    w.u32(0x0101A8C0).u16(uint16_t(8000 + i));                // second address
    w.u32(0xCAFE).u8(0x13).u32(0x04030201).u16(9000);         // kept, NAT, call-me address
    if (code == kUdpPeerList2) w.u8(5).u8(uint8_t(90 + i));
  }
  return w.take();
}

}  // namespace

TEST(PeerFetch, QueryBody) {
  peer_query q;
  q.user_id = 0x0102030405060708ull;
  q.public_ip = 0x0100007F;
  q.nat_type = 0x13;
  std::copy(kHash, kHash + 16, q.file_hash);
  q.query = 1;
  q.node_flag = 5;
  EXPECT_EQ(hex(peer_query_body(q)),
            "2E00" "0807060504030201" "7F000001" "13" "000102030405060708090A0B0C0D0E0F" "01" "00000000" "E703" "05");
}

TEST(PeerFetch, PeerListEntriesStayInsideTheDatagram) {
  // Two 31-byte entries sent under code 47: 62 bytes where 66 are needed.
  std::vector<uint8_t> short_entries = peer_list(kUdpPeerList, 2, 2);
  short_entries[0] = uint8_t(kUdpPeerList2);
  struct Row {
    const char* name;
    std::vector<uint8_t> body;
    ReplyError error;
    size_t entries;
  };
  const Row rows[] = {
      {"33-byte entries, all present", peer_list(kUdpPeerList2, 3, 3), ReplyError::kNone, 3},
      {"31-byte entries, all present", peer_list(kUdpPeerList, 2, 2), ReplyError::kNone, 2},
      {"count beyond the datagram", peer_list(kUdpPeerList2, 4, 3), ReplyError::kCount, 0},
      {"count 65535 on an empty list", peer_list(kUdpPeerList2, 0xFFFF, 0), ReplyError::kCount, 0},
      {"31-byte entries under the 33-byte code", short_entries, ReplyError::kCount, 0},
      {"fewer announced than carried", peer_list(kUdpPeerList, 1, 3), ReplyError::kNone, 1},
      {"empty list", peer_list(kUdpPeerList2, 0, 0), ReplyError::kNone, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    PeerListHead head;
    ASSERT_EQ(parse_peer_list(r.body.data(), r.body.size(), head), r.error);
    if (r.error != ReplyError::kNone) continue;
    const std::vector<peer_entry> entries = peer_list_entries(head);
    ASSERT_EQ(entries.size(), r.entries);
    const bool wide = head.entry_size == 33;
    for (size_t i = 0; i < entries.size(); ++i) {
      const peer_entry& e = entries[i];
      EXPECT_EQ(e.user_id, 1000 + i);
      EXPECT_EQ(e.ip, 0x0100007Fu);
      EXPECT_EQ(e.port, 7000 + i);
      EXPECT_EQ(e.second_ip, 0x0101A8C0u);
      EXPECT_EQ(e.second_port, 8000 + i);
      EXPECT_EQ(e.kept, 0xCAFEu);
      EXPECT_EQ(e.nat_type, 0x13);
      EXPECT_EQ(e.call_ip, 0x04030201u);
      EXPECT_EQ(e.call_port, 9000);
      EXPECT_EQ(e.node_type, wide ? 5 : 0);
      EXPECT_EQ(e.percent, wide ? 90 + i : 0);
    }
    peer_entry past;
    EXPECT_FALSE(peer_list_entry(head, head.count, past));
  }
}

TEST(PeerFetch, HandshakeAnswer) {
  WireWriter w;
  w.u16(15).bytes(kHash, 16).u64(4242).u64(123456789).u8(0x11).u8(2);
  const std::vector<uint8_t> body = w.take();
  ASSERT_EQ(body.size(), kHandshakeBodySize);
  handshake_answer a;
  ASSERT_TRUE(parse_handshake_answer(body.data(), body.size(), a));
  EXPECT_EQ(0, std::memcmp(a.file_hash, kHash, 16));
  EXPECT_EQ(a.peer_id, 4242u);
  EXPECT_EQ(a.file_size, 123456789u);
  EXPECT_EQ(a.nat_type, 0x11);
  EXPECT_EQ(a.result, 2);
  EXPECT_FALSE(parse_handshake_answer(body.data(), 35, a));
  EXPECT_FALSE(parse_handshake_answer(nullptr, 36, a));

  struct Reason { uint8_t result; const char* text; };
  const Reason reasons[] = {{0, ""}, {1, "文件不存在"}, {2, "通道满"}, {3, "下线"}, {4, ""}, {255, ""}};
  for (const Reason& r : reasons) {
    SCOPED_TRACE(int(r.result));
    EXPECT_STREQ(handshake_failure_text(r.result), r.text);
  }
}

TEST(PeerFetch, FinishRecordHaveMap) {
  auto record = [](uint32_t flag, uint32_t unit, uint16_t width, uint16_t count, size_t entry_bytes) {
    WireWriter w;
    w.u32(flag).u32(unit).u16(width).u16(count);
    for (size_t i = 0; i < entry_bytes; ++i) w.u8(uint8_t(i % 5));
    std::vector<uint8_t> r = w.take();
    r.resize(kFinishRecordSize, 0);
    return r;
  };
  struct Row { const char* name; std::vector<uint8_t> record; bool ok; size_t ranges; };
  const Row rows[] = {
      {"width 8, two entries", record(0, 1024, 8, 2, 16), true, 2},
      {"width 2 filling 1300 bytes", record(7, 4096, 2, 650, 1300), true, 650},
      {"width 16, 81 entries = 1296 bytes", record(0, 1024, 16, 81, 1296), true, 81},
      {"entries beyond 1300 bytes", record(0, 1024, 16, 82, 1296), false, 0},
      {"width 3", record(0, 1024, 3, 1, 3), false, 0},
      {"width 0", record(0, 1024, 0, 1, 0), false, 0},
      {"unit 0", record(0, 0, 8, 1, 8), false, 0},
      {"count 65535", record(0, 1024, 2, 0xFFFF, 0), false, 0},
      {"no entries", record(100, 1024, 8, 0, 0), true, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    have_map_ranges m;
    EXPECT_EQ(parse_finish_record(r.record.data(), r.record.size(), m), r.ok);
    EXPECT_EQ(m.ranges.size(), r.ranges);
  }
  // A record shorter than its entries is refused too.
  const std::vector<uint8_t> whole = record(0, 1024, 8, 2, 16);
  have_map_ranges m;
  EXPECT_FALSE(parse_finish_record(whole.data(), 12 + 15, m));
  EXPECT_TRUE(parse_finish_record(whole.data(), 12 + 16, m));
  EXPECT_FALSE(parse_finish_record(whole.data(), 11, m));
  // The flag and the entries as ranges.
  WireWriter w;
  w.u32(0x63).u32(1024).u16(4).u16(2).u16(0).u16(10).u16(20).u16(0x300);
  const std::vector<uint8_t> two = w.take();
  ASSERT_TRUE(parse_finish_record(two.data(), two.size(), m));
  EXPECT_EQ(m.flag, 0x63);
  EXPECT_EQ(m.unit, 1024u);
  ASSERT_EQ(m.ranges.size(), 2u);
  EXPECT_EQ(m.ranges[0], std::make_pair(uint64_t(0), uint64_t(10)));
  EXPECT_EQ(m.ranges[1], std::make_pair(uint64_t(20), uint64_t(0x300)));
}

// Bodies built by the doubles' own codec (tests/lib/p2p_wire.py), read here.
TEST(PeerFetch, BodiesOfTheDoubles) {
  auto bytes = [](const char* hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2)
      out.push_back(uint8_t(std::stoi(std::string(hex + i, 2), nullptr, 16)));
    return out;
  };
  struct Row { const char* name; const char* hex; size_t entry_size; };
  const Row lists[] = {
      {"47", "2F00921000000000000000010203040506070809" "0A0B0C0D0E0F010008070605040302017F000001"
             "B546C0A80109A00F07000000130A000002B6460563", 33},
      {"32", "20009210000000000000000102030405060708090A0B0C0D0E0F0100080706050403020" "17F000001"
             "B546C0A80109A00F07000000130A000002B646", 31},
  };
  for (const Row& r : lists) {
    SCOPED_TRACE(r.name);
    const std::vector<uint8_t> body = bytes(r.hex);
    PeerListHead head;
    ASSERT_EQ(parse_peer_list(body.data(), body.size(), head), ReplyError::kNone);
    EXPECT_EQ(head.user_id, 4242u);
    EXPECT_EQ(head.entry_size, r.entry_size);
    const std::vector<peer_entry> e = peer_list_entries(head);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].user_id, 0x0102030405060708ull);
    EXPECT_EQ(Ipv4Text(e[0].ip), "127.0.0.1");
    EXPECT_EQ(e[0].port, 18101);
    EXPECT_EQ(Ipv4Text(e[0].second_ip), "192.168.1.9");
    EXPECT_EQ(e[0].second_port, 4000);
    EXPECT_EQ(e[0].kept, 7u);
    EXPECT_EQ(e[0].nat_type, 0x13);
    EXPECT_EQ(Ipv4Text(e[0].call_ip), "10.0.0.2");
    EXPECT_EQ(e[0].call_port, 18102);
    EXPECT_EQ(e[0].node_type, r.entry_size == 33 ? 5 : 0);
    EXPECT_EQ(e[0].percent, r.entry_size == 33 ? 99 : 0);
  }
  const std::vector<uint8_t> answer = bytes("0F00000102030405060708090A0B0C0D0E0F89130000000000002C290000000000001302");
  handshake_answer a;
  ASSERT_TRUE(parse_handshake_answer(answer.data(), answer.size(), a));
  EXPECT_EQ(a.peer_id, 5001u);
  EXPECT_EQ(a.file_size, 10540u);
  EXPECT_EQ(a.nat_type, 0x13);
  EXPECT_EQ(a.result, 2);
}

// A data packet reaches a download handle only when it holds its 36-byte
// head, the data its length field names and the sequence after it: shorter
// ones are refused before any length is taken from them.
TEST(PeerFetch, DataPacketsReachTheHandleOnlyWhole) {
  struct Row { const char* name; size_t total; uint16_t length_field; UdpCheck check; PeerError parse; };
  const Row rows[] = {
      {"35 bytes", 35, 0, UdpCheck::kDataShort, PeerError::kShort},
      {"36 bytes: the head only", 36, 0, UdpCheck::kData, PeerError::kShort},
      {"39 bytes: no whole sequence", 39, 0, UdpCheck::kData, PeerError::kShort},
      {"40 bytes, no data", 40, 0, UdpCheck::kData, PeerError::kNone},
      {"length field beyond the packet", 140, 1024, UdpCheck::kData, PeerError::kLength},
      {"length field above a block", 1100, 1025, UdpCheck::kData, PeerError::kLength},
      {"a whole block", 36 + 1024 + 4 + 1, 1024, UdpCheck::kData, PeerError::kNone},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> p(r.total, 0x33);
    p[0] = 2;
    if (r.total >= 36) {
      std::memcpy(p.data() + 5, kHash, 16);
      p[34] = uint8_t(r.length_field);
      p[35] = uint8_t(r.length_field >> 8);
    }
    store_u32le(p.data() + 1, udp_crc(p.data() + 5, p.size() - 5));
    std::vector<uint8_t> datagram = p;
    const UdpChecked c = check_datagram(datagram.data(), datagram.size());
    EXPECT_EQ(c.result, r.check);
    BlockPacket b;
    EXPECT_EQ(parse_block_packet(p.data(), p.size(), b), r.parse);
    if (r.parse == PeerError::kNone) {
      EXPECT_EQ(b.length, r.length_field);
    }
  }
}
