// Fuzz target: a reply body from a P2P server (registration server, super
// node, upload server, NAT test servers), UDP or TCP, through every reply
// parser and the share acknowledgement's reader. An accepted reply holds the
// fields at the places its layout gives them, a parser of a body of at least
// some length reads nothing past its layout, and the TCP login reply reads as
// the UDP one after its result code.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/codec/share_report.h"
#include "p2pcore/wire/server_protocol.h"

using namespace p2p;

namespace {

bool Usable(uint32_t ip) { return ip != 0 && ip != 0xFFFFFFFFu; }

uint64_t Le(const uint8_t* b, size_t at, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + size_t(i)];
  return v;
}

bool Same(const SuperNodeReply& a, const SuperNodeReply& b) {
  return a.login_target == b.login_target && a.sp_ip == b.sp_ip && a.sp_port == b.sp_port && a.up_ip == b.up_ip &&
         a.up_port == b.up_port && a.share_report_ms == b.share_report_ms && a.second_period_ms == b.second_period_ms &&
         a.share_send_ms == b.share_send_ms && a.keepalive_ms == b.keepalive_ms && a.keep_nat_ms == b.keep_nat_ms &&
         a.batch_max == b.batch_max;
}

// A parser that takes a body of at least `need` bytes reads nothing past
// them: what follows changes neither whether it accepts nor what it reads.
template <class Out, class Parse, class Equal>
void ReadsNoFurther(const uint8_t* body, size_t n, size_t need, Parse parse, Equal equal) {
  if (n < need || n == need) return;
  const std::vector<uint8_t> head(body, body + need);
  Out whole{}, cut{};
  const ReplyError a = parse(body, n, whole), b = parse(head.data(), need, cut);
  FUZZ_CHECK(a == b);
  if (a == ReplyError::kNone) FUZZ_CHECK(equal(whole, cut));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so that the sanitizer sees a read past the body.
  const std::vector<uint8_t> copy(data, data + size);
  const uint8_t* body = copy.empty() ? nullptr : copy.data();
  const size_t n = copy.size();

  // UDP 2: code, u64 user id, u16 subnet id, and no other length.
  RegisterReply reg;
  if (parse_register_reply(body, n, reg) == ReplyError::kNone)
    FUZZ_CHECK(n == 12 && reg.user_id == Le(body, 2, 8) && reg.subnet_id == Le(body, 10, 2));

  // UDP 11: result 1, count 1..100, entries of 12 bytes; the last usable address wins.
  SuperNodeReply sp;
  if (parse_sp_list(body, n, sp) == ReplyError::kNone) {
    const size_t count = Le(body, 3, 2);
    FUZZ_CHECK(body[2] == 1 && count >= 1 && count <= kSpListMaxEntries && n >= 12 * count + 5);
    size_t last = count;
    for (size_t i = 0; i < count; ++i)
      if (Usable(uint32_t(Le(body, 5 + 12 * i + 5, 4)))) last = i;
    FUZZ_CHECK(last < count && sp.sp_ip == Le(body, 5 + 12 * last + 5, 4) && sp.sp_port == Le(body, 5 + 12 * last + 9, 2));
    FUZZ_CHECK(sp.share_report_ms == 3600000 && sp.second_period_ms == 60000);
    ReadsNoFurther<SuperNodeReply>(body, n, 12 * count + 5, parse_sp_list, Same);
  }
  // UDP 27: result 1, the two intervals in seconds, the super node.
  SuperNodeReply spr;
  if (parse_sp_reply(body, n, spr) == ReplyError::kNone) {
    FUZZ_CHECK(n >= 13 && body[2] == 1 && Usable(spr.sp_ip));
    FUZZ_CHECK(spr.share_report_ms == Le(body, 3, 2) * 1000 && spr.second_period_ms == Le(body, 5, 2) * 1000);
    FUZZ_CHECK(spr.sp_ip == Le(body, 7, 4) && spr.sp_port == Le(body, 11, 2));
  }
  ReadsNoFurther<SuperNodeReply>(body, n, 13, parse_sp_reply, Same);
  // UDP 73: result 1, the login target, periods in seconds, the servers.
  SuperNodeReply servers;
  if (parse_sp_servers(body, n, servers) == ReplyError::kNone) {
    FUZZ_CHECK(n >= 31 && body[2] == 1 && servers.login_target == Le(body, 3, 2));
    FUZZ_CHECK(servers.share_report_ms == Le(body, 5, 2) * 1000 && servers.second_period_ms == Le(body, 7, 2) * 1000);
    FUZZ_CHECK(Usable(servers.sp_ip) || Usable(servers.up_ip));
  }
  ReadsNoFurther<SuperNodeReply>(body, n, 31, parse_sp_servers, Same);

  // UDP 4, 77: public address, port and subnet after the code; TCP 4 is the
  // same after its u16 result.
  LoginReply login;
  const bool loginOk = parse_login_reply(body, n, login) == ReplyError::kNone;
  FUZZ_CHECK(loginOk == (n >= 10));
  if (loginOk)
    FUZZ_CHECK(login.public_ip == Le(body, 2, 4) && login.public_port == Le(body, 6, 2) && login.subnet_id == Le(body, 8, 2));
  TcpLoginReply tcpLogin;
  const bool tcpLoginOk = parse_tcp_login_reply(body, n, tcpLogin) == ReplyError::kNone;
  FUZZ_CHECK(tcpLoginOk == loginOk);
  if (tcpLoginOk) {
    FUZZ_CHECK(tcpLogin.result == Le(body, 0, 2) && tcpLogin.login.public_ip == login.public_ip &&
               tcpLogin.login.public_port == login.public_port && tcpLogin.login.subnet_id == login.subnet_id);
  }
  // TCP 6: its u16 result.
  uint16_t result = 0;
  const bool resultOk = parse_tcp_result(body, n, result) == ReplyError::kNone;
  FUZZ_CHECK(resultOk == (n >= 2) && (!resultOk || result == Le(body, 0, 2)));

  // UDP 7, 81: the address and port the server saw, status, flags.
  KeepaliveReply keepalive;
  if (parse_keepalive_reply(body, n, keepalive) == ReplyError::kNone) {
    FUZZ_CHECK(n >= 10 && keepalive.seen_ip == Le(body, 2, 4) && keepalive.seen_port == Le(body, 6, 2));
    FUZZ_CHECK(keepalive.status == body[8] && keepalive.flags == body[9]);
  } else {
    FUZZ_CHECK(n < 10);
  }
  // UDP 19: 20 bytes, the magic after the code, the port at 18.
  NatPortCheck check;
  if (parse_nat_port_check(body, n, check) == ReplyError::kNone)
    FUZZ_CHECK(n == 20 && Le(body, 2, 4) == kNatPortCheckMagic && check.seen_port == Le(body, 18, 2));
  // UDP 63, 66, 68: the tester's user id; 66 names the port to answer on.
  NatProbe probe;
  if (parse_nat_probe(body, n, probe) == ReplyError::kNone) {
    const bool callMe = Le(body, 0, 2) == kUdpNatCallMeTest;
    FUZZ_CHECK(probe.user_id == Le(body, 2, 8) && probe.answer_port == (callMe ? Le(body, 10, 2) : 0));
  }
  uint8_t natType = 0;
  if (parse_nat_result(body, n, natType) == ReplyError::kNone) FUZZ_CHECK(natType == body[2] && nat_type_name(natType) != nullptr);

  PeerListHead peers;
  if (parse_peer_list(body, n, peers) == ReplyError::kNone) {
    // The session walks count entries of entry_size bytes from entries.
    FUZZ_CHECK(peers.entries == body + 28 && peers.count == Le(body, 26, 2) && peers.user_id == Le(body, 2, 8));
    FUZZ_CHECK(peers.entry_size == (Le(body, 0, 2) == kUdpPeerList2 ? 33u : 31u));
    FUZZ_CHECK(uint64_t(peers.count) * peers.entry_size <= uint64_t(body + n - peers.entries));
  }

  // TCP 2, 40 bytes: result, 2 bytes, login target, user id, the super node,
  // the upload server, 2 bytes, the share-report period in seconds.
  TcpRegisterReply tcpReg;
  if (parse_tcp_register_reply(body, n, tcpReg) == ReplyError::kNone) {
    FUZZ_CHECK(n == kTcpRegisterReplySize && tcpReg.result == Le(body, 0, 2) && tcpReg.login_target == Le(body, 4, 2));
    FUZZ_CHECK(tcpReg.user_id == Le(body, 6, 8) && tcpReg.sp_ip == Le(body, 14, 4) && tcpReg.sp_port == Le(body, 18, 2));
    FUZZ_CHECK(tcpReg.up_ip == Le(body, 20, 4) && tcpReg.up_port == Le(body, 24, 2));
    FUZZ_CHECK(tcpReg.share_report_ms == Le(body, 28, 2) * 1000);
  }

  uint32_t serial = 0;
  if (accept_serial(body, n, &serial)) FUZZ_CHECK(n >= 7);
  return 0;
}
