// The defaults of the serving hooks: TCP peers refused, UDP peer commands
// checked for their length and dropped, no upload workers.
#include "p2pcore/ke/peer_hooks.h"

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/wire/server_protocol.h"

namespace p2p {

bool is_udp_peer_command(uint16_t command) {
  switch (command) {
    case kUdpCallMe:
    case kUdpCallMe2:
    case kUdpGetFileData:
    case kUdpBlockRequest:
    case kUdpBlockRequest2:
    case kUdpFinishRange:
    case kUdpFinishRange2:
    case kUdpVerifyRange:
      return true;
    default:
      return false;
  }
}

void tcp_peer_hook::accept_from(SOCKET listener) {
  for (SOCKET s; (s = accept(listener, nullptr, nullptr)) != INVALID_SOCKET;) closesocket(s);
}

void udp_peer_dispatch::on_command(uint16_t command, const uint8_t*, size_t n, const sockaddr_in& from, bool) {
  switch (command) {
    case kUdpVerifyRange:
      if (n < 50) P2P_LOG(2, "get verify range packet too small %d", int(n));
      return;
    case kUdpFinishRange:
    case kUdpFinishRange2:
      if (n < 2 + 8 + 16) P2P_LOG(3, "finish range packet too small %d", int(n));
      return;
    default:
      P2P_LOG(1, "unk packet, cmd:%u, len %u from [%s:%u]", unsigned(command), unsigned(n),
              Ipv4Text(from.sin_addr.s_addr).c_str(), unsigned(ntohs(from.sin_port)));
      return;
  }
}

serving_hooks& serving() {
  static tcp_peer_hook no_tcp_users;
  static udp_peer_dispatch length_checks;
  static upload_worker_hook no_workers;
  static serving_hooks hooks = {&no_tcp_users, &length_checks, &no_workers};
  return hooks;
}

}  // namespace p2p
