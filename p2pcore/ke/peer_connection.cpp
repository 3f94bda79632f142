// A download handle's link to one peer.
#include "p2pcore/ke/peer_connection.h"

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "p2pcore/codec/nat_names.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/p2phandle.h"
#include "p2pcore/ke/peer_commands.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/wire/peer_fetch.h"
#include "p2pcore/wire/peer_udp.h"

namespace p2p {

namespace {
constexpr uint32_t kRetryPeriodMs = 30000;
constexpr uint32_t kLanIntervalMs = 200;
constexpr uint32_t kSwapEveryMs = 5000;
constexpr uint32_t kPickFloorBytes = 8192;
constexpr uint32_t kMaxPick = 72;
constexpr uint32_t kIdlePickMs = 1000;
}  // namespace

peer_connection::peer_connection(p2phandle& owner, const peer_entry& entry, bool lan, uint32_t now)
    : owner_(owner), peer_(entry), ip_(entry.ip), port_(entry.port), lan_(lan) {
  timer_.period = kRetryPeriodMs;
  timer_.extra = uint32_t((unsigned(rand()) + 7ull * now) % 5000);
  timer_.restart(now);
  if (lan_) {
    ip_ = entry.second_ip;
    port_ = entry.second_port;
    interval_ms_ = kLanIntervalMs;
  }
}

std::string peer_connection::describe() const { return describe_peer(peer_.user_id, peer_.nat_type, ip_, port_); }

void peer_connection::set_state(int state, uint32_t now) {
  if (state == kLinkConnected && state_ != kLinkConnected) {
    const bool first = !ever_connected_;
    if (first) {
      ever_connected_ = true;
      connect_tick_ = now;
      last_receive_tick_ = now;
    }
    owner_.count_source(*this, first);
  }
  state_ = state;
}

void peer_connection::on_handshake_reply(const download_context& ctx, const handshake_answer& a, uint32_t now) {
  handshake_answered_ = true;
  if (a.result != kHandshakeOk) {
    set_state(kLinkFailed, now);
    P2P_LOG(9, "HAND %s FAIL:%s", describe().c_str(), gbk(handshake_failure_text(a.result)).c_str());
    return;
  }
  set_state(kLinkConnected, now);
  timer_.restart(now);
  pick_blocks(ctx, now);
  if (!full_source()) owner_.send_own_have_map(kPeerHaveMap, ip_, port_);
  send_swap_version(ctx, kPeerSwapVersion, now);
  P2P_LOG(9, "HAND %s", describe().c_str());
}

void peer_connection::pick_blocks(const download_context& ctx, uint32_t now) {
  const uint32_t rate = meter_.rate(now);
  const uint32_t limit = request_list_limit(lan_, rate, owner_.receive_rate(now));
  if (requests_.size() >= limit || owner_.stopped() || !owner_.has_task_callback()) return;
  if (!owner_.budgets_allow(kPickFloorBytes, now)) return;
  uint32_t picked[kMaxPick + 1];
  uint32_t n = 0;
  // The block under test goes first, so that partial sources answer it too.
  if (!full_source()) {
    const uint32_t test = owner_.test_block_for(peer_.user_id);
    if (test != bad_data_detector::kNoBlock && !requests_.listed(test)) picked[n++] = test;
  }
  const uint32_t want = std::min<uint32_t>(kMaxPick, limit - uint32_t(requests_.size()));
  n += owner_.task_pick(*this, picked + n, want);
  if (n == 0) return;
  const size_t queued = requests_.queue(picked, n, owner_.block_count());
  owner_.charge(uint32_t(queued) * 1024, now);
  if (queued == 0) return;
  set_state(kLinkRequesting, now);
  request_blocks(ctx, now);
}

int peer_connection::request_blocks(const download_context& ctx, uint32_t now) {
  request_batch batch;
  const int r = requests_.collect(now, rto_ms_, request_window(meter_.rate(now)), batch);
  if (r != 0) return r;
  for (const request_batch::resend& x : batch.resent)
    P2P_LOG(1, "blockid:%u, expinteral:%u, rto:%u, retrytimes:%u", x.block, x.wait_ms, rto_ms_, x.retries);
  if (log_threshold() <= 1) {
    std::string list;
    for (uint32_t i = 0; i < batch.count; ++i) list += std::to_string(batch.blocks[i]) + " ";
    P2P_LOG(1, "request block; userid: %lld, nblock[ %s ]", (long long)peer_.user_id, list.c_str());
  }
  ++requests_sent_;
  resends_ += batch.resends;
  const std::vector<uint8_t> body =
      get_file_data_body(owner_.file_hash(), ctx.user_id, ctx.nat_type, 0, batch.blocks, batch.count);
  return download_send(body, ip_, port_) ? 0 : -3;
}

bool peer_connection::on_block(uint32_t block, uint32_t data_length, bool right_length, uint32_t now) {
  bytes_received_ += data_length;
  header_bytes_ += kBlockPacketHead;
  owner_.count_bytes(*this, data_length);
  meter_.add(data_length, now);
  last_receive_tick_ = now;
  timer_.restart(now);
  const peer_requests::arrival a = right_length ? requests_.on_block(block, now) : peer_requests::arrival{};
  if (!a.requested) {
    ++unknown_blocks_;
    return false;
  }
  ++blocks_received_;
  ++answered_requests_;
  rtt_estimate(rtt_, a.rtt_ms, now);
  rto_ms_ = rtt_.retry_timeout_ms;
  return true;
}

void peer_connection::after_block(const download_context& ctx, uint32_t now) {
  if (owner_.stopped()) return;
  request_blocks(ctx, now);
  set_state(kLinkConnected, now);
  pick_blocks(ctx, now);
}

void peer_connection::send_swap_version(const download_context& ctx, uint16_t command, uint32_t now) {
  if (swapped_ && now - last_swap_tick_ < kSwapEveryMs) return;
  swapped_ = true;
  last_swap_tick_ = now;
  SwapVersion v = own_version(owner_.file_hash());
  v.user_id = ctx.user_id;
  download_send(swap_version_body(command, v), ip_, port_);
}

void peer_connection::contact(uint32_t now) {
  contacted_ = true;
  last_contact_tick_ = now;
  // Our map asks the peer for its own (53); a peer behind a NAT that does not
  // let us in heard of us from the call-me its peer list sent.
  owner_.send_own_have_map(kPeerHaveMap, ip_, port_);
}

bool peer_connection::pass(const download_context& ctx, uint32_t now) {
  if (state_ == kLinkNew && (!contacted_ || now - last_contact_tick_ >= interval_ms_)) contact(now);
  if (connected() && !requests_.empty()) request_blocks(ctx, now);
  // An idle link asks the task again now and then: blocks of links that went
  // away come free without any block arriving here.
  if (connected() && requests_.empty() && now - last_pick_tick_ >= kIdlePickMs) {
    last_pick_tick_ = now;
    pick_blocks(ctx, now);
  }
  switch (timer_.need(now)) {
    case timer_check::kWentBack:
      P2P_LOG(3, "Time::Need ERROR dwnow < m_time ,dwNow:%lld , m_time: %lld", (long long)now,
              (long long)timer_.last);
      return false;
    case timer_check::kNotDue:
      return false;
    case timer_check::kDue:
      P2P_LOG(1, "Time::Need OK ,dwNow:%lld , m_time: %lld", (long long)now, (long long)timer_.last);
      break;
  }
  // A retry period without an answer to our contact, or without a block while
  // blocks are awaited: the peer has gone quiet.
  if (!connected()) return true;
  return requests_.in_flight() > 0;
}

link_view peer_connection::view(uint32_t now) const {
  link_view v;
  v.user_id = peer_.user_id;
  v.ip = ip_;
  v.port = port_;
  v.nat_type = peer_.nat_type;
  v.node_type = peer_.node_type;
  v.percent = peer_.percent;
  v.state = uint8_t(state_);
  v.lan = lan_;
  v.rate = meter_.rate(now);
  v.window = request_window(v.rate);
  v.rto_ms = rto_ms_;
  v.listed = uint32_t(requests_.size());
  v.requests = requests_sent_;
  v.resends = resends_;
  v.blocks = blocks_received_;
  v.bytes = bytes_received_;
  v.unknown_blocks = unknown_blocks_;
  v.seconds_connected = ever_connected_ ? (now - connect_tick_) / 1000 : 0;
  return v;
}

void peer_connection::log_removal(uint32_t now) const {
  static const std::string removed = gbk("删除 "), never = gbk(" 未连接");
  if (!ever_connected_) {
    P2P_LOG(9, "%s%s%s", removed.c_str(), describe().c_str(), never.c_str());
    return;
  }
  const uint32_t seconds = std::max<uint32_t>(1, (now - connect_tick_) / 1000);
  P2P_LOG(9, "%s%s time: %4ds   down: %7s KB  ask/reask %3u%% = %5u / %u", removed.c_str(), describe().c_str(),
          int(seconds), group_digits(int64_t(bytes_received_ >> 10)).c_str(), resend_percent(resends_, requests_sent_),
          requests_sent_, resends_);
}

}  // namespace p2p
