// Server protocol bodies and reply parsers.
#include "p2pcore/wire/server_protocol.h"

#include "p2pcore/wire/wire_bytes.h"

namespace p2p {
namespace {

// The login and keepalive bodies share their leading identity fields.
void identity_head(WireWriter& w, const LocalIdentity& id) {
  w.u8(id.node_type).u64(id.user_id).u32(id.lan_ip).u16(id.lan_port).u32(id.nat_value).u8(id.nat_type);
}

std::vector<uint8_t> keepalive(uint16_t code, const LocalIdentity& id) {
  WireWriter w(52);
  w.u16(code);
  identity_head(w, id);
  w.u32(id.version).zeros(2).u16(id.subnet_id).bytes(id.machine_id, 16);
  return w.take();
}

bool usable_address(uint32_t ip) { return ip != 0 && ip != 0xFFFFFFFFu; }

}  // namespace

std::vector<uint8_t> udp_register_body(const LocalIdentity& id) {
  WireWriter w(23);
  w.u16(kUdpRegister).u8(id.node_type).u16(id.build).u16(id.subnet_id).bytes(id.machine_id, 16);
  return w.take();
}

std::vector<uint8_t> udp_query_sp_body(const LocalIdentity& id) {
  WireWriter w(13);
  w.u16(kUdpQuerySp).u8(id.node_type).u32(id.version).u32(id.product_id).u16(id.subnet_id);
  return w.take();
}

std::vector<uint8_t> udp_login_sp_body(const LocalIdentity& id) {
  WireWriter w(44);
  w.u16(kUdpLoginSp);
  identity_head(w, id);
  w.u16(id.subnet_id).u16(id.upload_kb).bytes(id.machine_id, 16).zeros(2);
  return w.take();
}

std::vector<uint8_t> udp_login_up_body(const LocalIdentity& id) {
  WireWriter w(84);
  w.u16(kUdpLoginUp);
  identity_head(w, id);
  w.u32(id.version).u16(id.subnet_id).u16(id.upload_kb).text("Super Node", 32).bytes(id.machine_id, 16);
  w.zeros(4).u16(id.tcp_port);
  return w.take();
}

std::vector<uint8_t> udp_keepalive_body(const LocalIdentity& id) { return keepalive(kUdpKeepalive, id); }

std::vector<uint8_t> udp_keepalive2_body(const LocalIdentity& id) {
  std::vector<uint8_t> b = keepalive(kUdpKeepalive2, id);
  WireWriter w;
  w.u32(id.public_ip).u16(id.public_port);
  std::vector<uint8_t> tail = w.take();
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

std::vector<uint8_t> udp_logout_body(const LocalIdentity& id) {
  WireWriter w(27);
  w.u16(kUdpLogout).u8(id.node_type).u64(id.user_id).bytes(id.machine_id, 16);
  return w.take();
}

std::vector<uint8_t> udp_keep_nat_body(const LocalIdentity& id) {
  WireWriter w(15);
  w.u16(kUdpKeepNat).u8(id.node_type).u64(id.user_id).u32(id.lan_ip);
  return w.take();
}

std::vector<uint8_t> udp_nat_answer_body(uint16_t code, uint64_t user_id) {
  WireWriter w(10);
  w.u16(code).u64(user_id);
  return w.take();
}

std::vector<uint8_t> tcp_register_body(const LocalIdentity& id, const char* pcid_text) {
  WireWriter w(108);
  w.u8(id.node_type).u16(id.build).u16(id.subnet_id).bytes(id.machine_id, 16).u64(id.user_id);
  w.u32(id.lan_ip).u16(id.lan_port).u16(id.tcp_port).u32(id.version).u32(id.product_id);
  w.u8(id.nat_type).u32(id.nat_value).text(pcid_text, 32).zeros(26);
  return w.take();
}

std::vector<uint8_t> tcp_login_body(const LocalIdentity& id) {
  WireWriter w(142);
  identity_head(w, id);
  w.u32(id.version).u16(id.subnet_id).u16(id.upload_kb).text("Super Node", 32).bytes(id.machine_id, 16);
  w.u16(id.tcp_port).zeros(64);
  return w.take();
}

std::vector<uint8_t> tcp_keepalive_body(uint32_t elapsed_ms, uint16_t share_count) {
  WireWriter w(6);
  w.u32(elapsed_ms).u16(share_count);
  return w.take();
}

std::vector<uint8_t> tcp_logout_body(uint32_t elapsed_ms) {
  WireWriter w(8);
  w.u32(elapsed_ms).u32(0);
  return w.take();
}

const char* reply_error_text(ReplyError e) {
  switch (e) {
    case ReplyError::kNone: return "ok";
    case ReplyError::kLength: return "bad length";
    case ReplyError::kResult: return "bad result";
    case ReplyError::kCount: return "bad count";
    case ReplyError::kMagic: return "bad magic";
    case ReplyError::kNoAddress: return "no address";
  }
  return "unknown";
}

ReplyError parse_register_reply(const uint8_t* body, size_t n, RegisterReply& out) {
  if (!body || n != 12) return ReplyError::kLength;
  WireReader r(body + 2, n - 2);
  out.user_id = r.u64();
  out.subnet_id = r.u16();
  return ReplyError::kNone;
}

ReplyError parse_sp_list(const uint8_t* body, size_t n, SuperNodeReply& out) {
  if (!body || n < 5) return ReplyError::kLength;
  WireReader r(body + 2, n - 2);
  if (r.u8() != 1) return ReplyError::kResult;
  uint16_t count = r.u16();
  if (count < 1 || count > kSpListMaxEntries || n < 12u * count + 5) return ReplyError::kCount;
  bool found = false;
  SuperNodeReply got;
  for (uint16_t i = 0; i < count; ++i) {
    r.u8();  // node type
    r.u32(); // user id
    uint32_t ip = r.u32();
    uint16_t port = r.u16();
    r.u8();  // NAT type
    if (usable_address(ip)) {
      got.sp_ip = ip;
      got.sp_port = port;
      found = true;
    }
  }
  if (!found) return ReplyError::kNoAddress;
  got.share_report_ms = 3600u * 1000;
  got.second_period_ms = 60u * 1000;
  out = got;
  return ReplyError::kNone;
}

ReplyError parse_sp_reply(const uint8_t* body, size_t n, SuperNodeReply& out) {
  if (!body || n < 13) return ReplyError::kLength;
  WireReader r(body + 2, n - 2);
  if (r.u8() != 1) return ReplyError::kResult;
  SuperNodeReply got;
  got.share_report_ms = r.u16() * 1000u;
  got.second_period_ms = r.u16() * 1000u;
  got.sp_ip = r.u32();
  got.sp_port = r.u16();
  if (!usable_address(got.sp_ip)) return ReplyError::kNoAddress;
  out = got;
  return ReplyError::kNone;
}

ReplyError parse_sp_servers(const uint8_t* body, size_t n, SuperNodeReply& out) {
  if (!body || n < 31) return ReplyError::kLength;
  WireReader r(body + 2, n - 2);
  if (r.u8() != 1) return ReplyError::kResult;
  SuperNodeReply got;
  got.login_target = r.u16();
  got.share_report_ms = r.u16() * 1000u;
  got.second_period_ms = r.u16() * 1000u;
  got.share_send_ms = r.u16() * 1000u;
  got.keepalive_ms = r.u16() * 1000u;
  got.keep_nat_ms = r.u16() * 1000u;
  got.batch_max = r.u16();
  r.u16();
  got.sp_ip = r.u32();
  got.sp_port = r.u16();
  got.up_ip = r.u32();
  got.up_port = r.u16();
  if (!usable_address(got.sp_ip) && !usable_address(got.up_ip)) return ReplyError::kNoAddress;
  out = got;
  return ReplyError::kNone;
}

ReplyError parse_login_reply(const uint8_t* body, size_t n, LoginReply& out) {
  if (!body || n < 10) return ReplyError::kLength;
  WireReader r(body + 2, n - 2);
  out.public_ip = r.u32();
  out.public_port = r.u16();
  out.subnet_id = r.u16();
  return ReplyError::kNone;
}

ReplyError parse_keepalive_reply(const uint8_t* body, size_t n, KeepaliveReply& out) {
  if (!body || n < 10) return ReplyError::kLength;
  WireReader r(body + 2, n - 2);
  out.seen_ip = r.u32();
  out.seen_port = r.u16();
  out.status = r.u8();
  out.flags = r.u8();
  return ReplyError::kNone;
}

ReplyError parse_nat_port_check(const uint8_t* body, size_t n, NatPortCheck& out) {
  if (!body || n != 20) return ReplyError::kLength;
  if (load_u32le(body + 2) != kNatPortCheckMagic) return ReplyError::kMagic;
  out.seen_port = static_cast<uint16_t>(body[18] | (body[19] << 8));
  return ReplyError::kNone;
}

ReplyError parse_nat_probe(const uint8_t* body, size_t n, NatProbe& out) {
  if (!body || n < 10) return ReplyError::kLength;
  uint16_t code = static_cast<uint16_t>(body[0] | (body[1] << 8));
  if (code == kUdpNatCallMeTest && n < 12) return ReplyError::kLength;
  WireReader r(body + 2, n - 2);
  out.user_id = r.u64();
  out.answer_port = code == kUdpNatCallMeTest ? r.u16() : 0;
  return ReplyError::kNone;
}

ReplyError parse_nat_result(const uint8_t* body, size_t n, uint8_t& nat_type) {
  if (!body || n < 3) return ReplyError::kLength;
  nat_type = body[2];
  return ReplyError::kNone;
}

ReplyError parse_peer_list(const uint8_t* body, size_t n, PeerListHead& out) {
  constexpr size_t kHead = 2 + 8 + 16 + 2;
  if (!body || n < kHead) return ReplyError::kLength;
  uint16_t code = static_cast<uint16_t>(body[0] | (body[1] << 8));
  WireReader r(body + 2, n - 2);
  out.user_id = r.u64();
  r.bytes(out.file_hash, 16);
  out.count = r.u16();
  out.entry_size = code == kUdpPeerList2 ? 33 : 31;
  if (static_cast<uint64_t>(out.count) * out.entry_size > n - kHead) return ReplyError::kCount;
  out.entries = body + kHead;
  return ReplyError::kNone;
}

ReplyError parse_tcp_register_reply(const uint8_t* body, size_t n, TcpRegisterReply& out) {
  if (!body || n != kTcpRegisterReplySize) return ReplyError::kLength;
  WireReader r(body, n);
  out.result = r.u16();
  r.u16();
  out.login_target = r.u16();
  out.user_id = r.u64();
  out.sp_ip = r.u32();
  out.sp_port = r.u16();
  out.up_ip = r.u32();
  out.up_port = r.u16();
  r.u16();
  out.share_report_ms = r.u16() * 1000u;
  out.batch_max = r.u16();
  out.keepalive_ms = r.u16() * 1000u;
  return ReplyError::kNone;
}

ReplyError parse_tcp_login_reply(const uint8_t* body, size_t n, TcpLoginReply& out) {
  if (!body || n < 10) return ReplyError::kLength;
  WireReader r(body, n);
  out.result = r.u16();
  out.login.public_ip = r.u32();
  out.login.public_port = r.u16();
  out.login.subnet_id = r.u16();
  return ReplyError::kNone;
}

ReplyError parse_tcp_result(const uint8_t* body, size_t n, uint16_t& result) {
  if (!body || n < 2) return ReplyError::kLength;
  result = static_cast<uint16_t>(body[0] | (body[1] << 8));
  return ReplyError::kNone;
}

}  // namespace p2p
