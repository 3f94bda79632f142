// The once-a-second statistics roll and the one-minute report figures of the
// upload core, over plain counter snapshots. Platform-free.
#pragma once
#include <cstdint>
#include <utility>
#include <vector>

#include "p2pcore/seedlift_api.h"

namespace p2p {

// The 104-byte per-second network counter block.
struct net_counters {
  uint64_t upload_payload_bytes;
  uint64_t tcp_send_bytes;
  uint64_t udp_bytes_sent;
  uint64_t udp_bytes_received;
  uint64_t udp_packets_sent;
  uint64_t udp_packets_received;
  uint64_t udp_invalid_packets;
  uint64_t udp_send_errors;
  // The TCP streams: the link to the servers and the peers' connections.
  uint64_t link_bytes_sent;
  uint64_t link_bytes_received;
  uint64_t link_frames_sent;
  uint64_t link_frames_received;
  uint64_t data_packets_sent;
};
static_assert(sizeof(net_counters) == 104, "network counter block is 104 bytes");

// The 72-byte block-read counter set reported by p2p_get_netinfo.
struct read_counter_set {
  uint32_t block_requests;
  uint32_t block_reads;
  uint32_t online;          // set when the session reaches SCHEDULER
  uint32_t upload_limit_kb; // reported shifted left by 10
  uint32_t bandwidth;       // reported as the configured upload bandwidth
  uint32_t speed_mode;      // reported as the upload speed-control mode
  uint32_t read_ms;
  uint32_t disk_bytes;
  uint32_t cache_reads;
  uint32_t cache_bytes;
  uint32_t disk_reads;
  uint32_t udp_blocks_queued;
  uint32_t tcp_reads_queued;
  uint32_t data_packets;
  uint32_t data_bytes;
  uint32_t reserved[3];
};
static_assert(sizeof(read_counter_set) == 72, "block-read counter set is 72 bytes");

// Running 64-bit counters of the upload path, as a snapshot.
struct upload_counters {
  uint64_t block_requests;
  uint64_t read_ms;
  uint64_t reads_completed;
  uint64_t cache_reads;
  uint64_t cache_bytes;
  uint64_t disk_reads;
  uint64_t disk_bytes;
};

// Running counters of the download side: links that connected, by where
// their peer is, and the bytes they brought.
struct download_counters {
  uint64_t lan_sources;
  uint64_t remote_sources;
  uint64_t remote_nat_connects;  // connects of remote links whose peer is not full cone
  uint64_t lan_bytes;
  uint64_t remote_bytes;
  uint64_t header_bytes;
};

// 256 command counters for one second, their running total and last second.
struct command_table {
  uint32_t current[256];
  uint32_t total[256];
  uint32_t last_second[256];
  uint64_t minute[256];
};

class stat_roller {
 public:
  // Fills the two export blocks from this second's counters and the upload
  // counters, then moves the second into the totals and clears it.
  void roll(net_counters& second, const upload_counters& now);
  static void roll_table(command_table& table);

  const p2p_stat_totals& totals() const { return totals_; }
  const p2p_stat_info& info() const { return info_; }
  const net_counters& running_total() const { return running_; }
  const net_counters& last_second() const { return last_; }
  const net_counters& minute() const { return minute_; }
  void clear_minute() { minute_ = {}; }

 private:
  p2p_stat_totals totals_ = {};
  p2p_stat_info info_ = {};
  net_counters running_ = {};
  net_counters last_ = {};
  net_counters minute_ = {};
  upload_counters previous_ = {};
};

// (index, count) for every non-zero minute count of a command table.
std::vector<std::pair<uint32_t, uint64_t>> command_report(const command_table& table);
void clear_minute(command_table& table);
// Index 1..9 figures of the performance report.
std::vector<std::pair<uint32_t, uint64_t>> performance_report(const net_counters& minute, const p2p_stat_info& info);

}  // namespace p2p
