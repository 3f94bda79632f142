// Windowing and retransmission of a peer link's block requests.
#include "p2pcore/codec/peer_requests.h"

#include <algorithm>

namespace p2p {

namespace {
constexpr uint32_t KiB(uint32_t n) { return n * 1024; }
}  // namespace

uint32_t request_window(uint32_t link_rate) {
  if (link_rate <= KiB(10)) return 4;
  if (link_rate <= KiB(32)) return 8;
  return 16;
}

uint32_t request_list_limit(bool lan, uint32_t link_rate, uint32_t handle_rate) {
  if (lan) return 16;
  if (handle_rate > KiB(200)) return 1;
  if (link_rate > KiB(128)) return 128;
  if (link_rate > KiB(64)) return 96;
  return 4 * request_window(link_rate);
}

uint32_t peer_requests::in_flight() const {
  return uint32_t(std::count_if(list_.begin(), list_.end(),
                                [](const request_entry& e) { return e.state == kRequestSent; }));
}

size_t peer_requests::queue(const uint32_t* blocks, size_t n, uint32_t block_count) {
  size_t queued = 0;
  for (size_t i = 0; blocks && i < n; ++i) {
    if (blocks[i] >= block_count) continue;
    request_entry e;
    e.sequence = ++sequence_;
    e.block = blocks[i];
    list_.push_back(e);
    ++queued;
  }
  return queued;
}

int peer_requests::collect(uint32_t now_ms, uint32_t rto_ms, uint32_t window, request_batch& out) {
  out = request_batch{};
  if (list_.empty()) return -1;
  const uint32_t cap = std::min(kMaxBlocksPerGetFileData, std::max(window, 1u));
  for (request_entry& e : list_) {
    if (out.count >= cap) break;
    if (e.state == kRequestQueued) {
      e.state = kRequestSent;
      e.send_tick = now_ms;
      e.retries = 0;
      out.blocks[out.count++] = e.block;
      ++out.first_sends;
      continue;
    }
    if (e.state != kRequestSent) continue;
    // Long outstanding behind many newer requests: its retries start over.
    if (sequence_ - e.sequence > kSequenceLag) e.retries = 0;
    if (e.retries >= kMaxRetries) {
      e.retries = 0;
      continue;
    }
    const uint64_t wait = uint64_t(rto_ms) * (e.retries + 8u) / 2;
    if (uint64_t(now_ms - e.send_tick) <= wait) continue;
    out.resent.push_back({e.block, uint32_t(std::min<uint64_t>(wait, UINT32_MAX)), e.retries});
    ++e.retries;
    e.send_tick = now_ms;
    out.blocks[out.count++] = e.block;
    ++out.resends;
  }
  return out.count ? 0 : -2;
}

peer_requests::arrival peer_requests::on_block(uint32_t block, uint32_t now_ms) {
  arrival a;
  for (auto it = list_.begin(); it != list_.end(); ++it) {
    if (it->block != block || it->state != kRequestSent) continue;
    a.requested = true;
    a.rtt_ms = std::min<uint32_t>(now_ms - it->send_tick, 1000);
    list_.erase(it);
    break;
  }
  return a;
}

bool peer_requests::listed(uint32_t block) const {
  return std::any_of(list_.begin(), list_.end(), [block](const request_entry& e) { return e.block == block; });
}

std::vector<uint32_t> peer_requests::blocks() const {
  std::vector<uint32_t> out;
  out.reserve(list_.size());
  for (const request_entry& e : list_) out.push_back(e.block);
  return out;
}

}  // namespace p2p
