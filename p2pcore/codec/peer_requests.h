// The request list of one peer link: blocks asked of the peer, sent in
// getfiledata requests of at most the window, resent on a time-out that
// grows with each retry, and struck off when their data arrives. Also the
// window and list-size rules by rate. Clock injected. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace p2p {

enum : uint8_t { kRequestQueued = 0, kRequestSent = 1, kRequestReceived = 255 };

struct request_entry {
  uint32_t sequence = 0;  // given when queued
  uint32_t block = 0;
  uint32_t send_tick = 0;
  uint8_t retries = 0;
  uint8_t state = kRequestQueued;
};

// Request window by the link's rate in bytes per second: 4 up to 10 KiB/s,
// 8 up to 32 KiB/s, 16 above.
uint32_t request_window(uint32_t link_rate);
// Entries a link may hold: 16 on the LAN; else 1 while the handle receives
// above 200 KiB/s, 128 above 128 KiB/s, 96 above 64 KiB/s, else 4 x window.
uint32_t request_list_limit(bool lan, uint32_t link_rate, uint32_t handle_rate);

inline constexpr uint32_t kMaxBlocksPerGetFileData = 16;

struct request_batch {
  uint32_t blocks[kMaxBlocksPerGetFileData] = {};
  uint32_t count = 0;
  uint32_t first_sends = 0;
  uint32_t resends = 0;
  struct resend { uint32_t block, wait_ms, retries; };
  std::vector<resend> resent;  // for the trace line
};

class peer_requests {
 public:
  static constexpr uint32_t kSequenceLag = 256;
  static constexpr uint8_t kMaxRetries = 8;

  size_t size() const { return list_.size(); }
  bool empty() const { return list_.empty(); }
  uint32_t in_flight() const;
  const std::deque<request_entry>& entries() const { return list_; }

  // Queues the blocks below block_count, each with the next sequence number.
  size_t queue(const uint32_t* blocks, size_t n, uint32_t block_count);

  // Collects one request of at most min(16, window) blocks: queued entries
  // first sent, and sent ones whose wait of rto x (retries + 8) / 2 ms has
  // passed. 0 with blocks to send, -1 when the list is empty, -2 when nothing is due.
  int collect(uint32_t now_ms, uint32_t rto_ms, uint32_t window, request_batch& out);

  struct arrival {
    bool requested = false;  // an entry asked of this peer and sent was waiting for it
    uint32_t rtt_ms = 0;     // min(now - last send, 1000)
  };
  // Strikes off the first sent entry of this block.
  arrival on_block(uint32_t block, uint32_t now_ms);

  // The blocks still listed (handed back to the task when the link goes).
  std::vector<uint32_t> blocks() const;
  bool listed(uint32_t block) const;
  void clear() { list_.clear(); }

 private:
  std::deque<request_entry> list_;
  uint32_t sequence_ = 0;
};

}  // namespace p2p
