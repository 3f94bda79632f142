// Handlers of the peer-facing commands and the upload side's UDP sends.
#include "p2pcore/ke/peer_commands.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/io/SimpleUdpServer.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/ip_list_files.h"
#include "p2pcore/ke/onlineuser.h"
#include "p2pcore/ke/onlineusermanager.h"
#include "p2pcore/ke/session.h"
#include "p2pcore/ke/uploadtask.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"
#include "p2pcore/wire/server_protocol.h"
#include "p2pcore/wire/udp_packet.h"

namespace p2p {

namespace {

enum : uint8_t { kTransportUdp = 0, kTransportTcp = 1 };

uint32_t arrival_ms() { return uint32_t(uint64_t(std::time(nullptr)) * 1000); }

// Fills the upload-user record an announcement creates.
upload_user_info announced_user(uint64_t user_id, uint32_t ip, uint16_t port, uint8_t nat_type, const uint8_t fid[16],
                                const char* path, uint8_t transport) {
  upload_user_info u{};
  u.user_id = user_id;
  u.ip = ip;
  u.port = port;
  u.nat_type = nat_type;
  std::memcpy(u.fid, fid, 16);
  std::snprintf(u.path, sizeof u.path, "%s", path);
  u.transport_type = transport;
  return u;
}

// The answer of an announcement: whether the file is here, uploads run and there is room.
uint8_t announce(const upload_user_info& record, uint64_t* size_out) {
  shareres_manager* m = get_shareres_manager();
  char path[255];
  uint64_t size = 0;
  const int first_lookup = 0;  // counts the file's handshakes
  if (!m->query_share_counted(record.fid, path, &size, &first_lookup)) return kHandshakeNoFile;
  *size_out = size;
  if (m->pause_upload && get_high_priority_file_manager()->is_not_listed(record.fid)) return kHandshakeOffline;
  upload_user_info r = record;
  std::snprintf(r.path, sizeof r.path, "%s", path);
  return get_upload_user_manager()->add_p2p_upload_user(r) == kUserAdded ? kHandshakeAccepted : kHandshakeFull;
}

void on_call_me(const uint8_t* body, size_t n, const sockaddr_in& from, bool outer) {
  CallMe c;
  if (parse_call_me(body, n, c) != PeerError::kNone) {
    P2P_LOG(3, "incoming callme! len %u from [%s:%u] too short", unsigned(n), Ipv4Text(from.sin_addr.s_addr).c_str(),
            unsigned(ntohs(from.sin_port)));
    return;
  }
  upload_user_info record = announced_user(c.peer_id, c.peer_ip, c.peer_port, c.nat_type, c.file_hash, "",
                                           kTransportUdp);
  if (c.has_version) {
    std::memcpy(&record.version_ip, c.version, 4);
    std::memcpy(&record.version_value, c.version + 4, 4);
    std::memcpy(record.version_text, c.version + 8, sizeof record.version_text - 1);
  }
  uint64_t size = 0;
  const uint8_t result = announce(record, &size);
  P2P_LOG(9, "incoming callme! %s checkresult:%d", describe_peer(c.peer_id, c.nat_type, c.peer_ip, c.peer_port).c_str(),
          int(result));
  const std::vector<uint8_t> answer = handshake_answer_body(c.file_hash, own_user_id(), size, own_nat_type(), result);
  peer_udp_send(answer.data(), answer.size(), c.peer_ip, c.peer_port, outer);
}

void on_get_file_data(const uint8_t* body, size_t n, const sockaddr_in& from, bool outer) {
  GetFileData g;
  const PeerError e = parse_get_file_data(body, n, g);
  const std::string remote = Ipv4Text(from.sin_addr.s_addr);
  const unsigned port = ntohs(from.sin_port);
  if (e == PeerError::kShort) {
    P2P_LOG(1, "CP2pSession::incoming_getfiledata len %u from [%s:%u] too short", unsigned(n), remote.c_str(), port);
    return;
  }
  const std::string hex = hash_hex(g.file_hash);
  if (e != PeerError::kNone) {
    P2P_LOG(3,
            "CP2pSession::incoming_getfiledata ERROR|hash=[%s],reqblockcount=[%d],userid=[%llu],nattype=[%s],"
            "reqtype=[%d],remoteip=[%s:%d]",
            hex.c_str(), int(g.declared), (unsigned long long)g.user_id, nat_type_name(g.nat_type),
            int(g.request_type), remote.c_str(), int(port));
    return;
  }
  P2P_LOG(1,
          "CP2pSession::incoming_getfiledata|hash=[%s],reqblockcount=[%d],userid=[%llu],nattype=[%s],reqtype=[%d],"
          "remoteip=[%s:%d]",
          hex.c_str(), int(g.count), (unsigned long long)g.user_id, nat_type_name(g.nat_type), int(g.request_type),
          remote.c_str(), int(port));
  if (g.count == 0) return;
  stat_add_upload(&upload_counters::block_requests, 1);
  stat_add_read_counter(&read_counter_set::block_requests, 1);
  if (get_upload_user_manager()->check_upload_request(g.file_hash, g.user_id, outer ? 1 : 0, g.request_type,
                                                      g.nat_word))
    return;
  get_high_priority_file_manager()->note_request(g.file_hash, g.request_type);
  udp_block_request r;
  r.user_id = g.user_id;
  r.nat_word = g.nat_word;
  r.ip = from.sin_addr.s_addr;
  r.port = uint16_t(port);
  r.count = g.count;
  std::memcpy(r.file_hash, g.file_hash, 16);
  r.request_type = g.request_type;
  std::memcpy(r.blocks, g.blocks, sizeof r.blocks);
  r.arrival_ms = arrival_ms();
  r.wrapped = outer ? 1 : 0;
  get_upload_task_mgr()->queue_udp_block_request(r);
}

void on_verify_range(const uint8_t* body, size_t n, const sockaddr_in& from, bool outer) {
  if (n < kVerifyRequestSize) {
    P2P_LOG(2, "get verify range packet too small %d", int(n));
    return;
  }
  udp_verify_request r;
  parse_verify_request(body, n, r.request);
  P2P_LOG(9, "incoming request verify range, flag=%d, RangeStart=[%lld], RangeLength=[%lld], CRCUnit=[%d]",
          int(r.request.flags), (long long)r.request.start, (long long)r.request.length, int(r.request.crc_unit));
  // Checked before anything is read or allocated; the read is bounded by the file.
  if (check_verify_range(r.request, kVerifyMaxLength) != PeerError::kNone) {
    P2P_LOG(2, "verify range refused: RangeLength=[%llu] from [%s:%u]", (unsigned long long)r.request.length,
            Ipv4Text(from.sin_addr.s_addr).c_str(), unsigned(ntohs(from.sin_port)));
    return;
  }
  r.ip = from.sin_addr.s_addr;
  r.port = ntohs(from.sin_port);
  r.arrival_ms = arrival_ms();
  r.wrapped = outer ? 1 : 0;
  get_upload_task_mgr()->queue_udp_verify_request(r);
}

void on_swap_version(const udp_command& c) {
  SwapVersion v;
  if (parse_swap_version(c.body.data(), c.body.size(), v) != PeerError::kNone) return;
  uint8_t info[40];
  swap_version_info(v, info);
  get_upload_user_manager()->set_peer_version(v.file_hash, v.user_id, info);
  if (c.command != kPeerSwapVersion) return;
  const std::vector<uint8_t> answer = swap_version_body(kPeerSwapVersionAnswer, own_version(v.file_hash));
  peer_udp_send(answer.data(), answer.size(), c.ip, c.port, c.wrapped != 0);
}

// Percentage of a file a have-map covers: at most 99 unless it covers all of it.
int have_percent(const HaveMap& m, uint64_t size) {
  const uint64_t have = have_map_bytes(m);
  if (size == 0 || have >= size) return 100;
  const long double percent = static_cast<long double>(have) * 100 / static_cast<long double>(size);
  return percent >= 99 ? 99 : int(percent);
}

void on_have_map(const udp_command& c) {
  HaveMap m;
  const PeerError e = parse_have_map(c.body.data(), c.body.size(), m);
  if (e != PeerError::kNone) {
    P2P_LOG(3, "have-map cmd %u len %u from [%s:%u] dropped: %s", unsigned(c.command), unsigned(c.body.size()),
            Ipv4Text(c.ip).c_str(), unsigned(c.port), peer_error_text(e));
    return;
  }
  char path[255];
  uint64_t size = 0;
  if (!get_shareres_manager()->query_share_counted(m.file_hash, path, &size, nullptr)) return;
  P2P_LOG(1, "swap percent = [%d]\n", have_percent(m, size));
  if (c.command != kPeerHaveMap) return;
  // Our map: the whole file.
  const std::vector<uint8_t> answer = full_have_map_body(kPeerHaveMapAnswer, m.file_hash, size);
  peer_udp_send(answer.data(), answer.size(), c.ip, c.port, c.wrapped != 0);
}

}  // namespace

SwapVersion own_version(const uint8_t fid[16]) {
  // Read once: the version resource is slow to reach the first time.
  static const SwapVersion mine = [] {
    SwapVersion v;
    v.user_id = 0;
    std::memcpy(&v.version, &kLibraryVersionPacked, 4);
    uint16_t parts[4] = {};
    module_version(parts);
    v.build = parts[3];
    std::string program = program_path_ansi();
    const size_t slash = program.find_last_of('\\');
    if (slash != std::string::npos) program = program.substr(slash + 1);
    std::snprintf(v.program, sizeof v.program, "%s", program.c_str());
    return v;
  }();
  SwapVersion v = mine;
  std::memcpy(v.file_hash, fid, 16);
  v.user_id = own_user_id();
  return v;
}

bool peer_udp_command(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from, bool outer,
                      bool from_super_node) {
  switch (command) {
    case kPeerCallMe:
    case kPeerCallMe2:
      if (!from_super_node) {
        P2P_LOG(1, "incoming callme from [%s:%u] dropped: not the super node", Ipv4Text(from.sin_addr.s_addr).c_str(),
                unsigned(ntohs(from.sin_port)));
        return true;
      }
      on_call_me(body, n, from, outer);
      return true;
    case kPeerGetFileData:
      on_get_file_data(body, n, from, outer);
      return true;
    case kPeerVerifyRange:
      on_verify_range(body, n, from, outer);
      return true;
    case kPeerHaveMap:
    case kPeerHaveMapAnswer:
      if (n < kHaveMapHead) {
        P2P_LOG(3, "finish range packet too small %d", int(n));
        return true;
      }
      [[fallthrough]];
    case kPeerSwapVersion:
    case kPeerSwapVersionAnswer: {
      udp_command c;
      c.command = command;
      c.body.assign(body, body + n);
      c.ip = from.sin_addr.s_addr;
      c.port = ntohs(from.sin_port);
      c.wrapped = outer ? 1 : 0;
      get_upload_task_mgr()->queue_udp_command(std::move(c));
      return true;
    }
    default:
      return false;
  }
}

void run_deferred_udp_command(const udp_command& c) {
  switch (c.command) {
    case kPeerSwapVersion:
    case kPeerSwapVersionAnswer:
      on_swap_version(c);
      return;
    case kPeerHaveMap:
    case kPeerHaveMapAnswer:
      on_have_map(c);
      return;
    default:
      return;
  }
}

void tcp_check_have(online_user& user, const CheckHave& c) {
  sockaddr_in peer = {};
  int len = sizeof peer;
  getpeername(user.socket(), reinterpret_cast<sockaddr*>(&peer), &len);
  const uint32_t ip = peer.sin_addr.s_addr;
  const uint16_t port = ntohs(peer.sin_port);
  uint64_t size = 0;
  uint8_t result;
  if (!limit_ip_check(Ipv4Text(ip).c_str())) {
    result = kHandshakeFull;
  } else {
    result = announce(announced_user(c.user_id, ip, port, 0, c.fid, "", kTransportTcp), &size);
  }
  P2P_LOG(9, "tcp incoming checksum! %s checkresult:%d", describe_peer(c.user_id, 0, ip, port).c_str(), int(result));
  const std::vector<uint8_t> answer = check_have_answer_body(result, c.fid, size, own_user_id(), own_nat_type());
  user.set_send_buff(kTcpCheckHaveAnswer, answer.data(), uint32_t(answer.size()), user.stamp());
}

void tcp_finish_range(const tcp_upload_request& r) {
  std::shared_ptr<online_user> user = get_online_user_manager()->find_user(r.socket);
  if (!user || user->login_time() != r.login_time || user->user_id() != r.user_id) {
    P2P_LOG(9, "TCP::Client finish_range get no user");
    return;
  }
  P2P_LOG(1, "TCP::Client recv finish_range fd=[%d]", int(r.socket));
  char path[255];
  uint64_t size = 0;
  if (!get_shareres_manager()->query_share_counted(r.file_hash, path, &size, nullptr)) {
    P2P_LOG(9, "TCP::Client finish_range no file get no user");
    return;
  }
  HaveMap m;
  if (parse_finish_range(r.finish_map.data(), r.finish_map.size(), m) == PeerError::kNone)
    P2P_LOG(1, "swap percent = [%d]\n", have_percent(m, size));
}

bool peer_udp_send(const uint8_t* body, size_t n, uint32_t ip, uint16_t port, bool wrapped) {
  CSimpleUdpServer* udp = udp_server(0);
  return udp && udp->send(body, n, ip, port, wrapped);
}

bool peer_udp_send_packet(const uint8_t* packet, size_t n, uint32_t ip, uint16_t port, bool wrapped) {
  CSimpleUdpServer* udp = udp_server(0);
  if (!udp) return false;
  if (!wrapped) return udp->send_raw(packet, n, ip, port);
  uint8_t pad[kUdpMaxPadSent];
  const uint8_t count = uint8_t(rand() % (kUdpMaxPadSent + 1));
  for (uint8_t i = 0; i < count; ++i) pad[i] = uint8_t(rand());
  const std::vector<uint8_t> outer = wrap_outer(std::vector<uint8_t>(packet, packet + n), pad, count);
  return !outer.empty() && udp->send_raw(outer.data(), outer.size(), ip, port);
}

void prepare_peer_answers() {
  const uint8_t none[16] = {};
  own_version(none);
}

uint64_t own_user_id() { return CSimpleUdpServer::user_id(); }

uint8_t own_nat_type() {
  CP2pSession* s = existing_session();
  return s ? s->identity().nat_type : 0;
}

}  // namespace p2p
