// The session's handlers of what peers send to the upload side: call-me
// relayed by the super node (9, 50), getfiledata (16), swap version (48, 49),
// have-maps (52, 53) and verify range (56) over UDP; the checksum request
// (Check_Have) and finished-range notice over TCP. They check each request,
// keep the upload users and queue the reads for the upload workers. Also the
// upload side's sends through the session's UDP socket.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "p2pcore/wire/peer_tcp.h"
#include "p2pcore/wire/peer_udp.h"

namespace p2p {

class online_user;
struct udp_command;
struct tcp_upload_request;

// A UDP command of the upload side; false when the command is none of
// 9, 16, 48, 49, 50, 52, 53, 56. Call-me is taken only from the super node.
bool peer_udp_command(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from, bool outer,
                      bool from_super_node);
// The deferred UDP commands the upload workers hand back (48, 49, 52, 53).
void run_deferred_udp_command(const udp_command& c);

// The TCP checksum request of a peer that sent Check_Have: the peer becomes an
// upload user of the file and gets the answer (17).
void tcp_check_have(online_user& user, const CheckHave& c);
// The finished-range notice, run by an upload worker.
void tcp_finish_range(const tcp_upload_request& r);

// Sends a command body (u16 code first) to a peer; wrapped: in the outer layer.
bool peer_udp_send(const uint8_t* body, size_t n, uint32_t ip, uint16_t port, bool wrapped);
// Sends a data packet built whole; wrapped: in the outer layer (its 5 to 12 bytes).
bool peer_udp_send_packet(const uint8_t* packet, size_t n, uint32_t ip, uint16_t port, bool wrapped);
// Reads what the answers carry about this program (its version) ahead of the first.
void prepare_peer_answers();
// What swap version (48, 49) tells a peer about us for this file: our user
// id, the protocol version, the library's build and the program's name.
SwapVersion own_version(const uint8_t fid[16]);
// Our user id and NAT type byte, as the answers carry them.
uint64_t own_user_id();
uint8_t own_nat_type();

}  // namespace p2p
