// The UDP link of a download handle to one peer (peer_connection): the
// handshake, the blocks asked of the peer with windowing and retransmission
// (codec/peer_requests.h), the round-trip estimate and what arrived. Used on
// the scheduler thread only, under its handle's link lock.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "p2pcore/codec/download_peers.h"
#include "p2pcore/codec/download_records.h"
#include "p2pcore/codec/peer_requests.h"
#include "p2pcore/codec/rate_meter.h"
#include "p2pcore/codec/retry_timer.h"
#include "p2pcore/codec/rtt_estimate.h"

namespace p2p {

class p2phandle;
struct download_context;
struct handshake_answer;

enum : int { kLinkNew = 1, kLinkFailed = 2, kLinkConnected = 8, kLinkRequesting = 16 };

class peer_connection {
 public:
  // A link made from a peer-list entry; a LAN link talks to the entry's second address.
  peer_connection(p2phandle& owner, const peer_entry& entry, bool lan, uint32_t now);
  peer_connection(const peer_connection&) = delete;
  peer_connection& operator=(const peer_connection&) = delete;

  uint64_t user_id() const { return peer_.user_id; }
  const peer_entry& entry() const { return peer_; }
  uint32_t ip() const { return ip_; }
  uint16_t port() const { return port_; }
  bool lan() const { return lan_; }
  int state() const { return state_; }
  bool connected() const { return state_ == kLinkConnected || state_ == kLinkRequesting; }
  uint8_t percent() const { return peer_.percent; }
  bool full_source() const { return peer_.percent >= 100; }
  void set_percent(uint8_t percent) { peer_.percent = percent; }
  // Every packet from the peer moves the link to the address it came from.
  void set_address(uint32_t ip, uint16_t port) {
    ip_ = ip;
    port_ = port;
  }
  bool answered_handshake() const { return handshake_answered_; }

  // "[peer: %I64d, %s, ip: %-15s:%5d]"
  std::string describe() const;
  void set_state(int state, uint32_t now);

  // The peer's answer to our call-me (15).
  void on_handshake_reply(const download_context& ctx, const handshake_answer& a, uint32_t now);
  // Asks the task for blocks and queues them; requests when any were queued.
  void pick_blocks(const download_context& ctx, uint32_t now);
  // One getfiledata request: 0 sent, -1 list empty, -2 nothing due, -3 send failed.
  int request_blocks(const download_context& ctx, uint32_t now);
  // A data packet of this link's peer: its accounting. True when the block was
  // asked of this peer, still awaited and of its right length, which alone
  // lets it be written.
  bool on_block(uint32_t block, uint32_t data_length, bool right_length, uint32_t now);
  // After a block: request again, back to connected, pick more.
  void after_block(const download_context& ctx, uint32_t now);
  // Swap version (48, or 49 in answer), at most once every 5000 ms.
  void send_swap_version(const download_context& ctx, uint16_t command, uint32_t now);

  // What the scheduler does each pass: contact while new, requests due, and
  // whether the link has gone quiet for its retry period (true: remove it).
  bool pass(const download_context& ctx, uint32_t now);

  link_view view(uint32_t now) const;
  uint32_t rate(uint32_t now) const { return meter_.rate(now); }
  // "删除 %s 未连接" or "删除 %s time: ... down: ... ask/reask ..."
  void log_removal(uint32_t now) const;
  std::vector<uint32_t> listed_blocks() const { return requests_.blocks(); }

 private:
  void contact(uint32_t now);

  p2phandle& owner_;
  peer_entry peer_;
  uint32_t ip_ = 0;
  uint16_t port_ = 0;
  bool lan_ = false;
  int state_ = kLinkNew;
  bool ever_connected_ = false;
  bool handshake_answered_ = false;
  uint32_t connect_tick_ = 0;
  uint32_t last_receive_tick_ = 0;
  retry_timer timer_;
  uint32_t interval_ms_ = 10000;  // between contacts while the link is new
  bool contacted_ = false;
  uint32_t last_contact_tick_ = 0;
  uint32_t last_swap_tick_ = 0;
  uint32_t last_pick_tick_ = 0;
  bool swapped_ = false;
  peer_requests requests_;
  rtt_estimator rtt_;
  uint32_t rto_ms_ = 0;  // 0 until the first sample: a resend is due at the next pass
  rate_meter meter_{3};
  uint32_t requests_sent_ = 0;
  uint32_t resends_ = 0;
  uint32_t blocks_received_ = 0;
  uint64_t bytes_received_ = 0;
  uint64_t header_bytes_ = 0;
  uint32_t unknown_blocks_ = 0;
  uint32_t answered_requests_ = 0;
};

}  // namespace p2p
