// Statistics roll and report figures.
#include "p2pcore/codec/stat_roll.h"

#include <cstring>

namespace p2p {

static void add_block(net_counters& into, const net_counters& from) {
  uint64_t* a = reinterpret_cast<uint64_t*>(&into);
  const uint64_t* b = reinterpret_cast<const uint64_t*>(&from);
  for (size_t i = 0; i < sizeof(net_counters) / 8; ++i) a[i] += b[i];
}

static int32_t percent(uint64_t part, uint64_t whole) {
  uint64_t p = part / whole * 100 + (part % whole) * 100 / whole;
  return p > INT32_MAX ? INT32_MAX : int32_t(p);
}

void stat_roller::roll(net_counters& second, const upload_counters& now) {
  totals_.uploaded_total += second.upload_payload_bytes;
  totals_.tcp_send_second = uint32_t(second.tcp_send_bytes);
  totals_.uploaded_last_second = uint32_t(second.upload_payload_bytes);
  totals_.requests_last_second = uint32_t(now.block_requests - previous_.block_requests);

  info_.reads_last_second = uint32_t(now.disk_reads - previous_.disk_reads);
  info_.read_ms_last_second = uint32_t(now.read_ms - previous_.read_ms);
  info_.cache_hits = now.cache_reads;
  info_.cache_misses = now.disk_reads;
  info_.cache_bytes = now.cache_bytes;
  info_.disk_bytes = now.disk_bytes;
  info_.disk_bytes_last_second = uint32_t(now.disk_bytes - previous_.disk_bytes);
  if (now.cache_reads + now.disk_reads != 0) info_.hit_percent = percent(now.cache_reads, now.cache_reads + now.disk_reads);
  if (now.disk_bytes != 0) info_.cache_use_percent = percent(now.cache_bytes, now.disk_bytes);
  previous_ = now;

  add_block(running_, second);
  add_block(minute_, second);
  last_ = second;
  second = {};
}

void stat_roller::roll_table(command_table& t) {
  for (int i = 0; i < 256; ++i) {
    t.total[i] += t.current[i];
    t.minute[i] += t.current[i];
    t.last_second[i] = t.current[i];
    t.current[i] = 0;
  }
}

std::vector<std::pair<uint32_t, uint64_t>> command_report(const command_table& t) {
  std::vector<std::pair<uint32_t, uint64_t>> out;
  for (uint32_t i = 0; i < 256; ++i)
    if (t.minute[i] != 0) out.emplace_back(i, t.minute[i]);
  return out;
}

void clear_minute(command_table& t) { std::memset(t.minute, 0, sizeof t.minute); }

std::vector<std::pair<uint32_t, uint64_t>> performance_report(const net_counters& m, const p2p_stat_info& info) {
  return {{1, m.upload_payload_bytes},
          {2, m.udp_bytes_sent},
          {3, m.udp_bytes_received},
          {4, m.data_packets_sent},
          {5, info.reads_last_second},
          {6, info.read_ms_last_second},
          {7, info.disk_bytes_last_second},
          {8, uint64_t(int64_t(info.hit_percent))},
          {9, uint64_t(int64_t(info.cache_use_percent))}};
}

}  // namespace p2p
