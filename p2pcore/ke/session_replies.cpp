// The server session's replies: the UDP packets of the servers, checked against
// the server and state they answer, and the replies carried over the TCP link.
#include "p2pcore/ke/session.h"

#include <cstring>

#include "foundation/check/orchard_assert.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/io/SimpleUdpServer.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/downloads.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/peer_hooks.h"
#include "p2pcore/ke/servermanager.h"
#include "p2pcore/ke/setting.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/scoped_lock.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"

namespace p2p {

bool CP2pSession::expected(const char* what, const sockaddr_in& from, const endpoint& server, int state, int next) {
  // Only the server being talked to, and only while its reply is awaited.
  scoped_lock h(lock_);
  const bool from_server = server.matches(from);
  const bool in_state = machine_.state == state && (next < 0 || machine_.next == next);
  if (from_server && in_state) return true;
  P2P_LOG(1, "ignored %s from [%s:%u] (%s, %s)", what, ipv4_text(from.sin_addr.s_addr).c_str(),
          unsigned(ntohs(from.sin_port)), from_server ? "expected server" : "not the server",
          session_state_name(machine_.state));
  return false;
}

bool CP2pSession::is_super_node(const sockaddr_in& from) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  return sp_.matches(from);
}

void CP2pSession::dispatch(const UdpChecked& packet, const sockaddr_in& from) {
  ORCHARD_ASSERT(scheduler_.IsCurrent());
  const uint8_t* body = packet.body();
  const size_t n = packet.body_length();
  const uint16_t command = packet.command;
  // The download tasks take what carries their file's hash, the rest of the
  // peer commands is the upload side's.
  if (is_download_command(command) && download_command(requests_, downloads_context(), packet, from, GetTickCount()))
    return;
  if (is_udp_peer_command(command)) {
    serving().udp_commands->on_command(command, body, n, from, packet.outer);
    return;
  }
  switch (command) {
    case kUdpRegisterReply:
      on_register_reply(body, n, from);
      return;
    case kUdpSpList:
    case kUdpSpReply:
    case kUdpSpServers:
      on_super_node_reply(command, body, n, from);
      return;
    case kUdpLoginReply:
    case kUdpLoginUpReply:
      on_login_reply(body, n, from);
      return;
    case kUdpKeepaliveReply:
    case kUdpKeepalive2Reply:
      on_keepalive_reply(body, n, from);
      return;
    case kUdpNatPortCheck:
      on_nat_port_check(body, n, from);
      return;
    case kUdpShareAccepted:
    case kUdpShareAccepted2:
      if (expected("share acknowledgement", from, sp_, Session_State_SCHEDULER, -1))
        get_shareres_manager()->server_accept_share(body, n, *this);
      return;
    case kUdpNatFullConeTest:
    case kUdpNatCallMeTest:
    case kUdpNatRestrictedTest:
      on_nat_probe(command, body, n, from);
      return;
    case kUdpNatResult:
      on_nat_result(body, n, from);
      return;
    case kUdpShareNotice:
      return;
    default:
      P2P_LOG(1, "unk packet, cmd:%u, len %u from [%s:%u]", unsigned(command), unsigned(n),
              ipv4_text(from.sin_addr.s_addr).c_str(), unsigned(ntohs(from.sin_port)));
      return;
  }
}

void CP2pSession::on_register_reply(const uint8_t* body, size_t n, const sockaddr_in& from) {
  endpoint cp = cp_;
  // Any resolved registration-server address answers for the server on its port.
  for (uint32_t a : cp_addresses_)
    if (a == from.sin_addr.s_addr) cp.ip = a;
  if (!expected("register reply", from, cp, Session_State_WAIT, Session_State_REGISTER)) return;
  RegisterReply reply;
  if (parse_register_reply(body, n, reply) != ReplyError::kNone) {
    P2P_LOG(3, "error packet len=%u, from [%s:%u]", unsigned(n), ipv4_text(from.sin_addr.s_addr).c_str(),
            unsigned(ntohs(from.sin_port)));
    return;
  }
  {
    scoped_lock h(lock_);
    id_.user_id = reply.user_id;
    id_.subnet_id = reply.subnet_id;
  }
  CSimpleUdpServer::set_user_id(reply.user_id);
  if (!options().temp_mode) {
    write_network_facts();
    settings_write_user_id(reply.user_id);
  }
  session_event e;
  e.kind = session_event_kind::kRegisterReply;
  feed(e, GetTickCount());
  P2P_LOG(2, "reply register: userid:%llu, subnetid:%u", (unsigned long long)reply.user_id, unsigned(reply.subnet_id));
}

void CP2pSession::on_super_node_reply(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from) {
  endpoint cp = cp_;
  for (uint32_t a : cp_addresses_)
    if (a == from.sin_addr.s_addr) cp.ip = a;
  if (!expected("super node reply", from, cp, Session_State_WAIT, Session_State_QUERYSP)) return;
  SuperNodeReply r;
  ReplyError e = command == kUdpSpList  ? parse_sp_list(body, n, r)
                 : command == kUdpSpReply ? parse_sp_reply(body, n, r)
                                          : parse_sp_servers(body, n, r);
  if (e != ReplyError::kNone) {
    P2P_LOG(3, "reply spnode cmd %u rejected: %s, len %u", unsigned(command), reply_error_text(e), unsigned(n));
    return;
  }
  sp_ = {r.sp_ip, r.sp_port};
  if (options().forced_sp_ip) sp_ = {options().forced_sp_ip, uint16_t(options().forced_sp_port)};
  if (r.up_ip && r.up_port) up_ = {r.up_ip, r.up_port};
  // Replies without a login target send the login to the super node.
  login_target_ = r.login_target;
  if (r.batch_max) get_shareres_manager()->set_batch_max(r.batch_max);
  session_event ev;
  ev.kind = session_event_kind::kSuperNodeReply;
  ev.periods = {r.share_report_ms, r.second_period_ms, r.share_send_ms, r.keepalive_ms, r.keep_nat_ms};
  uint32_t report_ms = r.share_report_ms, second_ms = r.second_period_ms;
  {
    scoped_lock h(lock_);
    if (!report_ms) report_ms = machine_.periods.share_report_ms;
    if (!second_ms) second_ms = machine_.periods.second_period_ms;
  }
  P2P_LOG(2, "reply spnode: ip[%s:%u], upload downloaded interval:%d, upload downloading interval:%d",
          ipv4_text(sp_.ip).c_str(), unsigned(sp_.port), int(report_ms / 1000), int(second_ms / 1000));
  feed(ev, GetTickCount());
}

void CP2pSession::on_login_reply(const uint8_t* body, size_t n, const sockaddr_in& from) {
  if (!expected("login reply", from, sp_, Session_State_WAIT, Session_state_LOGIN)) return;
  LoginReply reply;
  if (parse_login_reply(body, n, reply) != ReplyError::kNone) {
    P2P_LOG(3, "login reply of %u bytes dropped", unsigned(n));
    return;
  }
  logged_in(reply, false);
}

void CP2pSession::logged_in(const LoginReply& reply, bool over_tcp) {
  {
    scoped_lock h(lock_);
    id_.public_ip = reply.public_ip;
    id_.public_port = reply.public_port;
    if (reply.subnet_id) id_.subnet_id = reply.subnet_id;
    id_.logged_in = 1;
  }
  P2P_LOG(2, "%s%s, Port:%d, subnetid:%d ", gbk("reply login: 本机公网Ip:").c_str(), ipv4_text(reply.public_ip).c_str(),
          int(reply.public_port), int(reply.subnet_id));
  session_event e;
  e.kind = session_event_kind::kLoginReply;
  e.over_tcp = over_tcp;
  feed(e, GetTickCount());
}

void CP2pSession::on_keepalive_reply(const uint8_t* body, size_t n, const sockaddr_in& from) {
  if (!expected("keepalive reply", from, sp_, Session_State_SCHEDULER, -1)) return;
  KeepaliveReply r;
  if (parse_keepalive_reply(body, n, r) != ReplyError::kNone) {
    P2P_LOG(3, "keepalive reply of %u bytes dropped", unsigned(n));
    return;
  }
  {
    scoped_lock h(lock_);
    if (r.seen_ip != id_.public_ip || r.seen_port != id_.public_port) {
      const uint8_t node = options().node_type;
      if (node >= 5 && node <= 7)
        P2P_LOG(3,
                "CP2pSession::incoming_keeplive,server check ip not same as local,\t\t\t\t\t\t\t\t\t\t   "
                "server return ip=[%s:%d],localip=[%s:%d]",
                ipv4_text(r.seen_ip).c_str(), int(r.seen_port), ipv4_text(id_.public_ip).c_str(), int(id_.public_port));
      id_.public_ip = r.seen_ip;
      machine_id_init(&host_);
      id_.nat_type = 0;
      id_.nat_value = 0;
    }
    id_.public_port = r.seen_port;
  }
  P2P_LOG(2, "CP2pSession::incoming_keeplive");
  session_event e;
  e.kind = session_event_kind::kKeepaliveReply;
  e.status = r.status;
  e.flag = r.flags != 0;
  feed(e, GetTickCount());
}

void CP2pSession::on_nat_port_check(const uint8_t* body, size_t n, const sockaddr_in& from) {
  const uint8_t node = options().node_type;
  if (node == 5 || node == 7) return;
  if (!expected("NAT port check", from, sp_, Session_State_SCHEDULER, -1)) return;
  NatPortCheck r;
  if (parse_nat_port_check(body, n, r) != ReplyError::kNone) return;
  const uint16_t public_port = identity().public_port;
  const bool changed = r.seen_port != public_port;
  if (changed) P2P_LOG(3, "my NAT port changed %d to %u", int(public_port), unsigned(r.seen_port));
  session_event e;
  e.kind = session_event_kind::kNatPortCheck;
  e.flag = changed;
  feed(e, GetTickCount());
}

void CP2pSession::on_nat_probe(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from) {
  CSimpleUdpServer* nat = udp_server(1);
  const std::string source = ipv4_text(from.sin_addr.s_addr);
  const unsigned port = ntohs(from.sin_port);
  NatProbe probe;
  if (parse_nat_probe(body, n, probe) != ReplyError::kNone) return;
  // Probes that arrive after the NAT result, when the test socket is gone, are dropped.
  if (!nat || !nat->is_open()) {
    P2P_LOG(1, "NAT probe cmd %u from [%s:%u] dropped: no test socket", unsigned(command), source.c_str(), port);
    stat_note_nat_probe(false);
    return;
  }
  uint16_t answer_port = uint16_t(port);
  uint16_t answer = kUdpNatFullConeAnswer;
  if (command == kUdpNatFullConeTest) {
    P2P_LOG(2, "recv NAT_fullcone_test: uid %llu from %s:%u", (unsigned long long)probe.user_id, source.c_str(), port);
  } else if (command == kUdpNatRestrictedTest) {
    answer = kUdpNatRestrictedAnswer;
    P2P_LOG(2, "recv NAT_restricted_test: uid %llu from %s:%u", (unsigned long long)probe.user_id, source.c_str(), port);
  } else {
    answer = kUdpNatCallMeAnswer;
    answer_port = probe.answer_port;
    P2P_LOG(2, "recv NAT_callme_test: uid %llu from %s:%u LocalPort:%u", (unsigned long long)probe.user_id,
            source.c_str(), port, unsigned(probe.answer_port));
  }
  // The answer goes to the address the probe came from, never to one named in it.
  const std::vector<uint8_t> reply = udp_nat_answer_body(answer, identity().user_id);
  stat_note_nat_probe(nat->send(reply.data(), reply.size(), from.sin_addr.s_addr, answer_port, true));
}

void CP2pSession::on_nat_result(const uint8_t* body, size_t n, const sockaddr_in& from) {
  if (!expected("NAT result", from, sp_, Session_State_SCHEDULER, -1)) return;
  uint8_t nat_type = 0;
  if (parse_nat_result(body, n, nat_type) != ReplyError::kNone) return;
  {
    scoped_lock h(lock_);
    id_.nat_type = nat_type;
  }
  P2P_LOG(2, "%s%02X:%02X (%s) ", gbk("recv NAT检查结果: ").c_str(), unsigned(nat_type >> 4), unsigned(nat_type & 0x0F),
          nat_type_name(nat_type));
  CSimpleUdpServer*& nat = udp_server(1);
  delete nat;
  nat = nullptr;
}

// ---- the TCP link's replies

void CP2pSession::on_link_register_reply(const uint8_t* body, uint32_t n) {
  if (state() != Session_State_WAIT || next_state() != Session_State_REGISTER) {
    P2P_LOG(1, "ignored TCP register reply in %s", session_state_name(state()));
    return;
  }
  TcpRegisterReply r;
  if (parse_tcp_register_reply(body, n, r) != ReplyError::kNone) {
    P2P_LOG(3, "TCP::ServerManager Incoming Register LenError[=%u], from", unsigned(n));
    return;
  }
  P2P_LOG(2, "reply register: userid:%llu, up Tcp addr[%s:%d], resultCode[%d]", (unsigned long long)r.user_id,
          ipv4_text(r.up_ip).c_str(), int(r.up_port), int(r.result));
  if (r.result != 0) {
    if (r.result == 1 || r.result == 2) server_manager::instance().mark_broken();
    return;
  }
  {
    scoped_lock h(lock_);
    id_.user_id = r.user_id;
  }
  CSimpleUdpServer::set_user_id(r.user_id);
  sp_ = {r.sp_ip, r.sp_port};
  if (options().forced_sp_ip) sp_ = {options().forced_sp_ip, uint16_t(options().forced_sp_port)};
  up_ = {r.up_ip, r.up_port};
  login_target_ = r.login_target ? r.login_target : kLoginTargetSuperNode;
  if (r.batch_max) get_shareres_manager()->set_batch_max(r.batch_max);
  if (!options().temp_mode) settings_write_user_id(r.user_id);
  session_event e;
  e.kind = session_event_kind::kLinkRegisterReply;
  e.periods.share_report_ms = r.share_report_ms;
  e.periods.link_keepalive_ms = r.keepalive_ms;
  feed(e, GetTickCount());
}

void CP2pSession::on_link_login_reply(const uint8_t* body, uint32_t n) {
  if (state() != Session_State_WAIT || next_state() != Session_state_LOGIN) {
    P2P_LOG(1, "ignored TCP login reply in %s", session_state_name(state()));
    return;
  }
  TcpLoginReply r;
  if (parse_tcp_login_reply(body, n, r) != ReplyError::kNone) {
    P2P_LOG(3, "TCP login reply of %u bytes dropped", unsigned(n));
    return;
  }
  if (r.result != 0) {
    if (r.result == 1 || r.result == 2) server_manager::instance().mark_broken();
    P2P_LOG(3, "TCP login refused, result %d", int(r.result));
    return;
  }
  logged_in(r.login, true);
}

void CP2pSession::on_link_keepalive_ok() {
  session_event e;
  e.kind = session_event_kind::kLinkKeepaliveOk;
  feed(e, GetTickCount());
}

void CP2pSession::on_link_share_accepted() { get_shareres_manager()->server_accept_share_up(*this); }

uint8_t CP2pSession::node_type() { return options().node_type; }

uint64_t CP2pSession::node_id() { return identity().user_id; }

void CP2pSession::send_to_sp(const std::vector<uint8_t>& body) { send_udp(body, sp_); }

bool CP2pSession::send_to_up(const std::vector<uint8_t>& body) {
  return server_manager::instance().send(kTcpShareBatch, body);
}

void CP2pSession::stamp_up_tick() {
  session_event e;
  e.kind = session_event_kind::kShareSentToUp;
  feed(e, GetTickCount());
}

}  // namespace p2p
