// Fuzz target: a reply body from a P2P server (registration server, super
// node, upload server, NAT test servers), UDP or TCP, through every reply
// parser and the share acknowledgement's reader. An accepted reply carries
// what the session goes on to use.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/codec/share_report.h"
#include "p2pcore/wire/server_protocol.h"

using namespace p2p;

namespace {

bool Usable(uint32_t ip) { return ip != 0 && ip != 0xFFFFFFFFu; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so that the sanitizer sees a read past the body.
  const std::vector<uint8_t> copy(data, data + size);
  const uint8_t* body = copy.empty() ? nullptr : copy.data();
  const size_t n = copy.size();

  RegisterReply reg;
  if (parse_register_reply(body, n, reg) == ReplyError::kNone) FUZZ_CHECK(n == 12);

  SuperNodeReply sp;
  if (parse_sp_list(body, n, sp) == ReplyError::kNone) FUZZ_CHECK(Usable(sp.sp_ip));
  SuperNodeReply spr;
  if (parse_sp_reply(body, n, spr) == ReplyError::kNone) FUZZ_CHECK(Usable(spr.sp_ip));
  SuperNodeReply servers;
  if (parse_sp_servers(body, n, servers) == ReplyError::kNone) FUZZ_CHECK(Usable(servers.sp_ip) || Usable(servers.up_ip));

  LoginReply login;
  parse_login_reply(body, n, login);
  KeepaliveReply keepalive;
  parse_keepalive_reply(body, n, keepalive);
  NatPortCheck check;
  if (parse_nat_port_check(body, n, check) == ReplyError::kNone) FUZZ_CHECK(n == 20);
  NatProbe probe;
  parse_nat_probe(body, n, probe);
  uint8_t natType = 0;
  if (parse_nat_result(body, n, natType) == ReplyError::kNone) FUZZ_CHECK(nat_type_name(natType) != nullptr);

  PeerListHead peers;
  if (parse_peer_list(body, n, peers) == ReplyError::kNone) {
    // The session walks count entries of entry_size bytes from entries.
    FUZZ_CHECK(peers.entries >= body && peers.entries <= body + n);
    FUZZ_CHECK(uint64_t(peers.count) * peers.entry_size <= uint64_t(body + n - peers.entries));
    const std::vector<uint8_t> entries(peers.entries, peers.entries + size_t(peers.count) * peers.entry_size);
    FUZZ_CHECK(entries.size() % peers.entry_size == 0);
  }

  TcpRegisterReply tcpReg;
  if (parse_tcp_register_reply(body, n, tcpReg) == ReplyError::kNone) FUZZ_CHECK(n == kTcpRegisterReplySize);
  TcpLoginReply tcpLogin;
  parse_tcp_login_reply(body, n, tcpLogin);
  uint16_t result = 0;
  parse_tcp_result(body, n, result);

  uint32_t serial = 0;
  if (accept_serial(body, n, &serial)) FUZZ_CHECK(n >= 7);
  return 0;
}
