// The session's dispatch to its download tasks.
#include "p2pcore/ke/downloads.h"

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/wire/peer_fetch.h"
#include "p2pcore/wire/peer_udp.h"
#include "p2pcore/wire/server_protocol.h"

namespace p2p {

namespace {

// Where a command carries its file hash: call-me bodies at 22, the others at 2.
const uint8_t* hash_of(uint16_t command, const uint8_t* body, size_t n) {
  const size_t at = command == kUdpTaskCommand ? 22 : 2;
  return n >= at + 16 ? body + at : nullptr;
}

}  // namespace

bool is_download_command(uint16_t command) {
  switch (command) {
    case kUdpPeerList:
    case kUdpPeerList2:
    case kUdpTaskCommand:
    case kUdpTaskFailure:
    case kPeerSwapVersion:
    case kPeerSwapVersionAnswer:
    case kPeerHaveMap:
    case kPeerHaveMapAnswer:
      return true;
    default:
      return false;
  }
}

bool download_command(task_requests& tasks, const download_context& ctx, const UdpChecked& packet,
                      const sockaddr_in& from, uint32_t now) {
  const uint16_t command = packet.command;
  const uint8_t* body = packet.body();
  const size_t n = packet.body_length();
  const uint32_t ip = from.sin_addr.s_addr;
  const uint16_t port = ntohs(from.sin_port);
  switch (command) {
    case kUdpPeerList:
    case kUdpPeerList2: {
      PeerListHead head;
      const ReplyError e = parse_peer_list(body, n, head);
      if (e != ReplyError::kNone || head.user_id != ctx.user_id || !ctx.from_super_node(ip, port)) {
        P2P_LOG(3, "peer list dropped: %s from [%s:%u]",
                e != ReplyError::kNone ? reply_error_text(e)
                : head.user_id != ctx.user_id ? "another user id"
                                               : "not the super node",
                Ipv4Text(ip).c_str(), unsigned(port));
        return true;
      }
      if (p2phandle* task = tasks.find_by_hash(head.file_hash)) task->on_peer_list(ctx, head, now);
      return true;
    }
    case kUdpTaskFailure: {
      handshake_answer a;
      if (!parse_handshake_answer(body, n, a)) {
        P2P_LOG(3, "handshake answer of %u bytes from [%s:%u] dropped", unsigned(n), Ipv4Text(ip).c_str(),
                unsigned(port));
        return true;
      }
      if (a.result != kHandshakeOk)
        P2P_LOG(9, "hand [userid:%llu, ip:%s, port:%u] FAIL:%s", (unsigned long long)a.peer_id, Ipv4Text(ip).c_str(),
                unsigned(port), gbk(handshake_failure_text(a.result)).c_str());
      if (p2phandle* task = tasks.find_by_hash(a.file_hash))
        task->on_command(ctx, command, body, n, packet.user_id, ip, port, now);
      return true;
    }
    case kUdpTaskCommand: {
      const uint8_t* hash = hash_of(command, body, n);
      p2phandle* task = hash && ctx.from_super_node(ip, port) ? tasks.find_by_hash(hash) : nullptr;
      if (task) task->on_command(ctx, command, body, n, packet.user_id, ip, port, now);
      else P2P_LOG(1, "task command 14 of %u bytes from [%s:%u] for no task", unsigned(n), Ipv4Text(ip).c_str(),
                   unsigned(port));
      return true;
    }
    case kPeerSwapVersion:
    case kPeerSwapVersionAnswer:
    case kPeerHaveMap:
    case kPeerHaveMapAnswer: {
      const uint8_t* hash = hash_of(command, body, n);
      p2phandle* task = hash ? tasks.find_by_hash(hash) : nullptr;
      if (!task) return false;
      task->on_command(ctx, command, body, n, packet.user_id, ip, port, now);
      return true;
    }
    default:
      return false;
  }
}

void download_data(task_requests& tasks, const download_context& ctx, const UdpChecked& packet,
                   const sockaddr_in& from, uint32_t now) {
  BlockPacket p;
  if (parse_block_packet(packet.packet, packet.length, p) != PeerError::kNone) return;
  if (p2phandle* task = tasks.find_by_hash(p.file_hash))
    task->on_block(ctx, p, from.sin_addr.s_addr, ntohs(from.sin_port), now);
}

void download_passes(task_requests& tasks, const download_context& ctx, uint32_t now) {
  for (p2phandle* task : tasks.handles()) task->pass(ctx, now);
}

}  // namespace p2p
