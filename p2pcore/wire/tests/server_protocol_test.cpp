// Server protocol bodies and reply parsers: sizes, minimum lengths, the
// super-node reply's edge cases and random bodies.
#include "p2pcore/wire/server_protocol.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

LocalIdentity sample_identity() {
  LocalIdentity id;
  id.user_id = 0x0102030405060708ull;
  id.node_type = 5;
  id.nat_type = 0x13;
  id.nat_value = 0xAABBCCDD;
  id.public_ip = 0x0100007F;
  id.public_port = 4000;
  id.lan_ip = 0x0A01A8C0;
  id.lan_port = 18001;
  id.tcp_port = 18006;
  id.subnet_id = 77;
  id.upload_kb = 512;
  id.build = 36;
  id.product_id = 9;
  for (int i = 0; i < 16; ++i) id.machine_id[i] = static_cast<uint8_t>(0xF0 + i);
  return id;
}

uint16_t code_of(const std::vector<uint8_t>& b) { return static_cast<uint16_t>(b[0] | (b[1] << 8)); }

std::vector<uint8_t> sp_list_body(uint8_t result, uint16_t count, const std::vector<uint32_t>& ips) {
  WireWriter w;
  w.u16(kUdpSpList).u8(result).u16(count);
  for (size_t i = 0; i < ips.size(); ++i) w.u8(5).u32(static_cast<uint32_t>(i)).u32(ips[i]).u16(static_cast<uint16_t>(9000 + i)).u8(0x11);
  return w.take();
}

}  // namespace

TEST(ServerProtocol, RequestBodySizesAndCodes) {
  const LocalIdentity id = sample_identity();
  struct Row { const char* name; std::vector<uint8_t> body; size_t size; int code; };
  const Row rows[] = {
      {"register", udp_register_body(id), 23, kUdpRegister},
      {"query super node", udp_query_sp_body(id), 13, kUdpQuerySp},
      {"login super node", udp_login_sp_body(id), 44, kUdpLoginSp},
      {"login upload server", udp_login_up_body(id), 84, kUdpLoginUp},
      {"keepalive", udp_keepalive_body(id), 46, kUdpKeepalive},
      {"keepalive second form", udp_keepalive2_body(id), 52, kUdpKeepalive2},
      {"logout", udp_logout_body(id), 27, kUdpLogout},
      {"keep NAT port", udp_keep_nat_body(id), 15, kUdpKeepNat},
      {"NAT answer", udp_nat_answer_body(kUdpNatCallMeAnswer, 5), 10, kUdpNatCallMeAnswer},
      {"TCP register", tcp_register_body(id, "0123456789ABCDEF0123456789ABCDEF"), 108, -1},
      {"TCP login", tcp_login_body(id), 142, -1},
      {"TCP keepalive", tcp_keepalive_body(1, 2), 6, -1},
      {"TCP logout", tcp_logout_body(1), 8, -1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.body.size(), r.size);
    if (r.code >= 0) {
      EXPECT_EQ(code_of(r.body), r.code);
    }
  }
}

TEST(ServerProtocol, EveryParserChecksItsMinimumLength) {
  struct Row {
    const char* name;
    uint16_t code;
    size_t minimum;
    bool exact;
    std::function<ReplyError(const uint8_t*, size_t)> parse;
  };
  const Row rows[] = {
      {"register reply", kUdpRegisterReply, 12, true,
       [](const uint8_t* b, size_t n) { RegisterReply r; return parse_register_reply(b, n, r); }},
      {"super node reply 27", kUdpSpReply, 13, false,
       [](const uint8_t* b, size_t n) { SuperNodeReply r; return parse_sp_reply(b, n, r); }},
      {"super node servers 73", kUdpSpServers, 31, false,
       [](const uint8_t* b, size_t n) { SuperNodeReply r; return parse_sp_servers(b, n, r); }},
      {"login reply", kUdpLoginReply, 10, false,
       [](const uint8_t* b, size_t n) { LoginReply r; return parse_login_reply(b, n, r); }},
      {"keepalive reply", kUdpKeepaliveReply, 10, false,
       [](const uint8_t* b, size_t n) { KeepaliveReply r; return parse_keepalive_reply(b, n, r); }},
      {"NAT port check", kUdpNatPortCheck, 20, true,
       [](const uint8_t* b, size_t n) { NatPortCheck r; return parse_nat_port_check(b, n, r); }},
      {"NAT full cone probe", kUdpNatFullConeTest, 10, false,
       [](const uint8_t* b, size_t n) { NatProbe r; return parse_nat_probe(b, n, r); }},
      {"NAT call-me probe", kUdpNatCallMeTest, 12, false,
       [](const uint8_t* b, size_t n) { NatProbe r; return parse_nat_probe(b, n, r); }},
      {"NAT result", kUdpNatResult, 3, false,
       [](const uint8_t* b, size_t n) { uint8_t t; return parse_nat_result(b, n, t); }},
      {"peer list", kUdpPeerList, 28, false,
       [](const uint8_t* b, size_t n) { PeerListHead r; return parse_peer_list(b, n, r); }},
      {"TCP register reply", 0, 40, true,
       [](const uint8_t* b, size_t n) { TcpRegisterReply r; return parse_tcp_register_reply(b, n, r); }},
      {"TCP login reply", 0, 10, false,
       [](const uint8_t* b, size_t n) { TcpLoginReply r; return parse_tcp_login_reply(b, n, r); }},
      {"TCP result", 0, 2, false, [](const uint8_t* b, size_t n) { uint16_t r; return parse_tcp_result(b, n, r); }},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    for (size_t n = 0; n <= r.minimum + 2; ++n) {
      // Each length gets a heap block of exactly its size, so a read past it is caught.
      std::vector<uint8_t> body(n, 1);
      if (n >= 2) { body[0] = static_cast<uint8_t>(r.code); body[1] = static_cast<uint8_t>(r.code >> 8); }
      if (n >= 3 && r.code != kUdpNatResult) body[2] = 1;  // result bytes that pass
      if (r.code == kUdpNatPortCheck && n >= 6) store_u32le(body.data() + 2, kNatPortCheckMagic);
      if (r.code == kUdpPeerList && n >= 28) { body[26] = 0; body[27] = 0; }
      ReplyError e = r.parse(n ? body.data() : nullptr, n);
      bool long_enough = r.exact ? n == r.minimum : n >= r.minimum;
      if (long_enough) {
        EXPECT_NE(e, ReplyError::kLength) << "length " << n;
      } else {
        EXPECT_EQ(e, ReplyError::kLength) << "length " << n;
      }
    }
  }
}

TEST(ServerProtocol, SuperNodeList) {
  const uint32_t a = 0x0100007F, b = 0x0200007F;
  struct Row {
    const char* name;
    std::vector<uint8_t> body;
    ReplyError error;
    uint32_t ip;
    uint16_t port;
  };
  std::vector<uint32_t> hundred(100, a);
  std::vector<uint32_t> hundred_one(101, a);
  std::vector<uint8_t> cut = sp_list_body(1, 2, {a, b});
  cut.pop_back();
  const Row rows[] = {
      {"one entry", sp_list_body(1, 1, {a}), ReplyError::kNone, a, 9000},
      {"the last valid entry wins", sp_list_body(1, 3, {a, b, 0}), ReplyError::kNone, b, 9001},
      {"broadcast and zero skipped", sp_list_body(1, 3, {0xFFFFFFFFu, a, 0xFFFFFFFFu}), ReplyError::kNone, a, 9001},
      {"100 entries", sp_list_body(1, 100, hundred), ReplyError::kNone, a, 9099},
      {"101 entries", sp_list_body(1, 101, hundred_one), ReplyError::kCount, 0, 0},
      {"count 0", sp_list_body(1, 0, {}), ReplyError::kCount, 0, 0},
      {"shorter than 12 x count + 5", cut, ReplyError::kCount, 0, 0},
      {"bad result", sp_list_body(0, 1, {a}), ReplyError::kResult, 0, 0},
      {"no usable address", sp_list_body(1, 2, {0, 0xFFFFFFFFu}), ReplyError::kNoAddress, 0, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    SuperNodeReply out;
    out.sp_ip = 0xDEADBEEF;
    EXPECT_EQ(parse_sp_list(r.body.data(), r.body.size(), out), r.error);
    if (r.error == ReplyError::kNone) {
      EXPECT_EQ(out.sp_ip, r.ip);
      EXPECT_EQ(out.sp_port, r.port);
      EXPECT_EQ(out.login_target, kLoginTargetSuperNode);  // no target in this reply
      EXPECT_EQ(out.share_report_ms, 3600000u);
    } else {
      EXPECT_EQ(out.sp_ip, 0xDEADBEEFu) << "a rejected reply changes nothing";
    }
  }
}

TEST(ServerProtocol, NatPortCheckNeedsItsMagic) {
  WireWriter w;
  w.u16(kUdpNatPortCheck).u32(kNatPortCheckMagic).zeros(12).u16(4321);
  std::vector<uint8_t> good = w.take();
  NatPortCheck out;
  ASSERT_EQ(parse_nat_port_check(good.data(), good.size(), out), ReplyError::kNone);
  EXPECT_EQ(out.seen_port, 4321);
  good[3] ^= 1;
  EXPECT_EQ(parse_nat_port_check(good.data(), good.size(), out), ReplyError::kMagic);
}

TEST(ServerProtocol, PeerListEntriesMustBePresent) {
  struct Row { uint16_t code; uint16_t count; size_t entry_bytes; ReplyError error; };
  const Row rows[] = {
      {kUdpPeerList, 2, 62, ReplyError::kNone},  {kUdpPeerList, 2, 61, ReplyError::kCount},
      {kUdpPeerList2, 2, 66, ReplyError::kNone}, {kUdpPeerList2, 2, 65, ReplyError::kCount},
      {kUdpPeerList, 0xFFFF, 10, ReplyError::kCount},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.code << " x" << r.count << " in " << r.entry_bytes);
    WireWriter w;
    w.u16(r.code).u64(1).zeros(16).u16(r.count).zeros(r.entry_bytes);
    std::vector<uint8_t> b = w.take();
    PeerListHead out;
    EXPECT_EQ(parse_peer_list(b.data(), b.size(), out), r.error);
  }
}

TEST(ServerProtocol, RandomBodiesAreSafe) {
  std::mt19937 gen(4242);
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> b(gen() % 80);
    for (uint8_t& x : b) x = static_cast<uint8_t>(gen() % 4 ? gen() : 1);
    const uint8_t* p = b.empty() ? nullptr : b.data();
    RegisterReply rr; SuperNodeReply sp; LoginReply lr; KeepaliveReply kr; NatPortCheck nc;
    NatProbe probe; uint8_t nat; PeerListHead pl; TcpRegisterReply tr; TcpLoginReply tl;
    uint16_t res;
    parse_register_reply(p, b.size(), rr);
    parse_sp_list(p, b.size(), sp);
    parse_sp_reply(p, b.size(), sp);
    parse_sp_servers(p, b.size(), sp);
    parse_login_reply(p, b.size(), lr);
    parse_keepalive_reply(p, b.size(), kr);
    parse_nat_port_check(p, b.size(), nc);
    parse_nat_probe(p, b.size(), probe);
    parse_nat_result(p, b.size(), nat);
    if (parse_peer_list(p, b.size(), pl) == ReplyError::kNone) {
      ASSERT_LE(pl.entries + pl.count * pl.entry_size, b.data() + b.size());
    }
    parse_tcp_register_reply(p, b.size(), tr);
    parse_tcp_login_reply(p, b.size(), tl);
    parse_tcp_result(p, b.size(), res);
  }
}
