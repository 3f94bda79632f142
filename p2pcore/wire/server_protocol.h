// Bodies of the commands the session sends to the registration server, the
// super node, the upload server and the NAT test servers, and parsers for
// their replies. UDP bodies start with their u16 command code; TCP bodies do
// not (the frame carries the command). Every parser checks the body's length
// before it reads a field. Addresses are IPv4 values with the first octet in
// the lowest byte (as in_addr holds them). Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "p2pcore/codec/nat_names.h"

namespace p2p {

// UDP command codes.
enum UdpCommand : uint16_t {
  kUdpRegister = 1,
  kUdpRegisterReply = 2,
  kUdpLoginSp = 3,
  kUdpLoginReply = 4,
  kUdpLogout = 5,
  kUdpKeepalive = 6,
  kUdpKeepaliveReply = 7,
  kUdpCallMe = 9,
  kUdpSpList = 11,
  kUdpShareAccepted = 13,
  kUdpTaskCommand = 14,
  kUdpTaskFailure = 15,
  kUdpGetFileData = 16,
  kUdpKeepNat = 18,
  kUdpNatPortCheck = 19,
  kUdpSpReply = 27,
  kUdpShareReport = 28,
  kUdpShareAccepted2 = 29,
  kUdpPeerList = 32,
  kUdpPeerList2 = 47,
  kUdpBlockRequest = 48,
  kUdpBlockRequest2 = 49,
  kUdpCallMe2 = 50,
  kUdpFinishRange = 52,
  kUdpFinishRange2 = 53,
  kUdpVerifyRange = 56,
  kUdpNatFullConeTest = 63,
  kUdpNatFullConeAnswer = 64,
  kUdpNatCallMeTest = 66,
  kUdpNatCallMeAnswer = 67,
  kUdpNatRestrictedTest = 68,
  kUdpNatRestrictedAnswer = 69,
  kUdpNatResult = 71,
  kUdpQuerySp = 72,
  kUdpSpServers = 73,
  kUdpLoginUp = 76,
  kUdpLoginUpReply = 77,
  kUdpKeepalive2 = 80,
  kUdpKeepalive2Reply = 81,
  kUdpShareNotice = 97,
};

// Commands on the TCP link to the servers.
enum TcpServerCommand : uint16_t {
  kTcpRegister = 1,
  kTcpRegisterReply = 2,
  kTcpLogin = 3,
  kTcpLoginReply = 4,
  kTcpKeepalive = 5,
  kTcpKeepaliveReply = 6,
  kTcpLogout = 7,
  kTcpShareBatch = 10,
  kTcpShareAccepted = 11,
};

// "1.0.3.36" as a packed value: bytes 1, 0, 3, 36 in memory order.
inline constexpr uint32_t kLibraryVersionPacked = 1u | (0u << 8) | (3u << 16) | (36u << 24);
inline constexpr uint32_t kNatPortCheckMagic = 0x05397FB1u;

// What the session tells the servers about itself.
struct LocalIdentity {
  uint64_t user_id = 0;
  uint8_t node_type = 0;
  uint8_t nat_type = 0;
  uint32_t nat_value = 0;
  uint32_t public_ip = 0;
  uint16_t public_port = 0;
  uint32_t lan_ip = 0;
  uint16_t lan_port = 0;
  uint16_t tcp_port = 0;
  uint16_t subnet_id = 0;
  uint16_t upload_kb = 0;
  uint16_t build = 0;
  uint32_t version = kLibraryVersionPacked;
  uint32_t product_id = 0;
  uint8_t machine_id[16] = {};
};

// Requests over UDP (sizes fixed by the protocol).
std::vector<uint8_t> udp_register_body(const LocalIdentity& id);       // 23
std::vector<uint8_t> udp_query_sp_body(const LocalIdentity& id);       // 13
std::vector<uint8_t> udp_login_sp_body(const LocalIdentity& id);       // 44
std::vector<uint8_t> udp_login_up_body(const LocalIdentity& id);       // 84
std::vector<uint8_t> udp_keepalive_body(const LocalIdentity& id);      // 46
std::vector<uint8_t> udp_keepalive2_body(const LocalIdentity& id);     // 52
std::vector<uint8_t> udp_logout_body(const LocalIdentity& id);         // 27
std::vector<uint8_t> udp_keep_nat_body(const LocalIdentity& id);       // 15
std::vector<uint8_t> udp_nat_answer_body(uint16_t code, uint64_t user_id);  // 10

// Requests over the TCP link.
std::vector<uint8_t> tcp_register_body(const LocalIdentity& id, const char* pcid_text);  // 108
std::vector<uint8_t> tcp_login_body(const LocalIdentity& id);                            // 142
std::vector<uint8_t> tcp_keepalive_body(uint32_t elapsed_ms, uint16_t share_count);      // 6
std::vector<uint8_t> tcp_logout_body(uint32_t elapsed_ms);                               // 8

enum class ReplyError {
  kNone,
  kLength,     // body of the wrong or too small length
  kResult,     // result byte or code not the expected one
  kCount,      // entry count out of range or entries not all present
  kMagic,      // magic value missing
  kNoAddress,  // no usable address in the reply
};
const char* reply_error_text(ReplyError e);

struct RegisterReply {  // UDP 2
  uint64_t user_id = 0;
  uint16_t subnet_id = 0;
};
ReplyError parse_register_reply(const uint8_t* body, size_t n, RegisterReply& out);

// Super-node replies (UDP 11, 27, 73): the login endpoint, the upload server's
// TCP endpoint where given, the login target and the periods they carry (ms; 0
// where the reply carries none).
inline constexpr uint16_t kLoginTargetSuperNode = 2;
struct SuperNodeReply {
  uint16_t login_target = kLoginTargetSuperNode;
  uint32_t sp_ip = 0;
  uint16_t sp_port = 0;
  uint32_t up_ip = 0;
  uint16_t up_port = 0;
  uint32_t share_report_ms = 0;
  uint32_t second_period_ms = 0;
  uint32_t share_send_ms = 0;
  uint32_t keepalive_ms = 0;
  uint32_t keep_nat_ms = 0;
  uint16_t batch_max = 0;
};
inline constexpr size_t kSpListMaxEntries = 100;
ReplyError parse_sp_list(const uint8_t* body, size_t n, SuperNodeReply& out);     // 11
ReplyError parse_sp_reply(const uint8_t* body, size_t n, SuperNodeReply& out);    // 27
ReplyError parse_sp_servers(const uint8_t* body, size_t n, SuperNodeReply& out);  // 73

struct LoginReply {  // UDP 4, 77; TCP 4 after its result code
  uint32_t public_ip = 0;
  uint16_t public_port = 0;
  uint16_t subnet_id = 0;
};
ReplyError parse_login_reply(const uint8_t* body, size_t n, LoginReply& out);

struct KeepaliveReply {  // UDP 7, 81
  uint32_t seen_ip = 0;
  uint16_t seen_port = 0;
  uint8_t status = 0;
  uint8_t flags = 0;
};
inline constexpr uint8_t kKeepaliveStatusRestart = 2;
ReplyError parse_keepalive_reply(const uint8_t* body, size_t n, KeepaliveReply& out);

struct NatPortCheck {  // UDP 19
  uint16_t seen_port = 0;
};
ReplyError parse_nat_port_check(const uint8_t* body, size_t n, NatPortCheck& out);

struct NatProbe {  // UDP 63, 66, 68
  uint64_t user_id = 0;
  uint16_t answer_port = 0;  // 66 only: where the answer goes on the sender's address
};
ReplyError parse_nat_probe(const uint8_t* body, size_t n, NatProbe& out);
ReplyError parse_nat_result(const uint8_t* body, size_t n, uint8_t& nat_type);  // UDP 71

struct PeerListHead {  // UDP 32, 47
  uint64_t user_id = 0;
  uint8_t file_hash[16] = {};
  uint16_t count = 0;
  size_t entry_size = 0;
  const uint8_t* entries = nullptr;
};
ReplyError parse_peer_list(const uint8_t* body, size_t n, PeerListHead& out);

// TCP link replies.
struct TcpRegisterReply {  // TCP 2, 40 bytes
  uint16_t result = 0;
  uint16_t login_target = 0;
  uint64_t user_id = 0;
  uint32_t sp_ip = 0;
  uint16_t sp_port = 0;
  uint32_t up_ip = 0;
  uint16_t up_port = 0;
  uint32_t share_report_ms = 0;
  uint16_t batch_max = 0;
  uint32_t keepalive_ms = 0;
};
inline constexpr size_t kTcpRegisterReplySize = 40;
ReplyError parse_tcp_register_reply(const uint8_t* body, size_t n, TcpRegisterReply& out);
struct TcpLoginReply {
  uint16_t result = 0;
  LoginReply login;
};
ReplyError parse_tcp_login_reply(const uint8_t* body, size_t n, TcpLoginReply& out);
ReplyError parse_tcp_result(const uint8_t* body, size_t n, uint16_t& result);  // TCP 6

}  // namespace p2p
