// Counters, roll and reports of the upload core.
#include "p2pcore/stat/StatAPI.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "platform/tallyhub/tallyhub.h"

namespace p2p {

// A deployment value (the host that collects the statistics reports), to be
// set for each deployment; the reserved name never resolves.
const char kStatHost[] = "stat.orchard-p2p.invalid";

namespace {

net_counters g_second = {};
upload_counters g_upload = {};
download_counters g_download = {};
command_table g_table_a = {};
command_table g_table_b = {};
read_counter_set g_reads = {};
stat_roller g_roller;
std::atomic<uint32_t> g_last_datagram_tick{0};
std::atomic<uint32_t> g_keep_nat_ms{30000};
std::atomic<uint32_t> g_nat_probes{0};
std::atomic<uint32_t> g_nat_answered{0};

struct reporters {
  CRITICAL_SECTION lock;
  CTallyhub* udp = nullptr;
  CTallyhub* tcp = nullptr;
  CTallyhub* performance = nullptr;
  reporters() { InitializeCriticalSection(&lock); }
};
reporters& rep() {
  static reporters r;
  return r;
}

uint64_t take(uint64_t* field) {
  return uint64_t(InterlockedExchange64(reinterpret_cast<volatile LONG64*>(field), 0));
}
uint64_t read64(const uint64_t* field) {
  return uint64_t(InterlockedCompareExchange64(reinterpret_cast<volatile LONG64*>(const_cast<uint64_t*>(field)), 0, 0));
}
void add32(uint32_t* field) { InterlockedIncrement(reinterpret_cast<volatile LONG*>(field)); }

CTallyhub* make_reporter(const char* category) {
  return new CTallyhub("ORCHARD", "1.0.3.36", "", category);
}

void send_pairs(CTallyhub* r, const std::vector<std::pair<uint32_t, uint64_t>>& pairs) {
  if (!r) return;
  for (const auto& [index, value] : pairs) r->StatAdd(index, value);
  r->SendReport();
}

}  // namespace

void stat_add(uint64_t net_counters::*field, uint64_t n) {
  InterlockedExchangeAdd64(reinterpret_cast<volatile LONG64*>(&(g_second.*field)), LONG64(n));
}

void stat_add_upload(uint64_t upload_counters::*field, uint64_t n) {
  InterlockedExchangeAdd64(reinterpret_cast<volatile LONG64*>(&(g_upload.*field)), LONG64(n));
}

void stat_add_download(uint64_t download_counters::*field, uint64_t n) {
  InterlockedExchangeAdd64(reinterpret_cast<volatile LONG64*>(&(g_download.*field)), LONG64(n));
}

download_counters stat_download_counters() {
  download_counters c;
  uint64_t* out = reinterpret_cast<uint64_t*>(&c);
  uint64_t* in = reinterpret_cast<uint64_t*>(&g_download);
  for (size_t i = 0; i < sizeof c / sizeof(uint64_t); ++i)
    out[i] = uint64_t(InterlockedCompareExchange64(reinterpret_cast<volatile LONG64*>(in + i), 0, 0));
  return c;
}

void stat_count_udp_command(uint16_t code) { add32(&g_table_a.current[code & 0xFF]); }
void stat_count_link_command(uint16_t code) { add32(&g_table_a.current[uint8_t(code - 96)]); }
void stat_count_tcp_peer_command(uint16_t code) { add32(&g_table_b.current[code & 0xFF]); }

read_counter_set& stat_read_counters() { return g_reads; }

void stat_add_read_counter(uint32_t read_counter_set::*field, uint32_t n) {
  InterlockedExchangeAdd(reinterpret_cast<volatile LONG*>(&(g_reads.*field)), LONG(n));
}

void stat_set_upload_limit(uint64_t bytes_per_second) {
  const uint64_t kb = bytes_per_second >> 10;
  InterlockedExchange(reinterpret_cast<volatile LONG*>(&g_reads.upload_limit_kb), LONG(kb > 0xFFFFFFFFu ? 0xFFFFFFFFu : kb));
}

void stat_note_nat_probe(bool answered) {
  ++g_nat_probes;
  if (answered) ++g_nat_answered;
}

void stat_nat_counters(int* total, int* count) {
  if (total) *total = int(g_nat_probes);
  if (count) *count = int(g_nat_answered);
}
void stat_set_online(bool online) { InterlockedExchange(reinterpret_cast<volatile LONG*>(&g_reads.online), online); }
void stat_set_keep_nat_ms(uint32_t ms) { g_keep_nat_ms = ms; }
void stat_note_datagram_received() { g_last_datagram_tick = GetTickCount(); }

void stat_start() {
  {
    EnterCriticalSection(&rep().lock);
    if (!rep().udp) rep().udp = make_reporter("UDPCMD");
    if (!rep().tcp) rep().tcp = make_reporter("TCPCMD");
    if (!rep().performance) rep().performance = make_reporter("PERFORMANCE");
    LeaveCriticalSection(&rep().lock);
  }
  hostent* host = nullptr;
  for (int attempt = 0; attempt < 22 && !host; ++attempt) host = gethostbyname(kStatHost);
  if (!host || host->h_addrtype != AF_INET || !host->h_addr_list[0]) {
    P2P_LOG(3, "stat host %s does not resolve", kStatHost);
    return;
  }
  int count = 0;
  while (host->h_addr_list[count]) ++count;
  std::srand(unsigned(std::time(nullptr)));
  uint32_t address;
  std::memcpy(&address, host->h_addr_list[std::rand() % count], 4);
  std::string text = Ipv4Text(address);
  P2P_LOG(4, "stat host %s is %s", kStatHost, text.c_str());
  CTallyhub::SetServer(text.c_str(), kStatPort);
}

void stat_stop() {
  EnterCriticalSection(&rep().lock);
  delete rep().udp;
  delete rep().tcp;
  delete rep().performance;
  rep().udp = rep().tcp = rep().performance = nullptr;
  LeaveCriticalSection(&rep().lock);
}

void stat_roll_second() {
  net_counters second;
  uint64_t* from = reinterpret_cast<uint64_t*>(&g_second);
  uint64_t* to = reinterpret_cast<uint64_t*>(&second);
  for (size_t i = 0; i < sizeof(net_counters) / 8; ++i) to[i] = take(from + i);
  upload_counters now;
  const uint64_t* up = reinterpret_cast<const uint64_t*>(&g_upload);
  uint64_t* snap = reinterpret_cast<uint64_t*>(&now);
  for (size_t i = 0; i < sizeof(upload_counters) / 8; ++i) snap[i] = read64(up + i);
  g_roller.roll(second, now);
  stat_roller::roll_table(g_table_a);
  stat_roller::roll_table(g_table_b);
}

void stat_report_minute() {
  EnterCriticalSection(&rep().lock);
  send_pairs(rep().udp, command_report(g_table_a));
  send_pairs(rep().tcp, command_report(g_table_b));
  send_pairs(rep().performance, performance_report(g_roller.minute(), g_roller.info()));
  clear_minute(g_table_a);
  clear_minute(g_table_b);
  g_roller.clear_minute();
  LeaveCriticalSection(&rep().lock);
}

void stat_copy_info(void* totals24, void* info56) {
  if (totals24) std::memcpy(totals24, &g_roller.totals(), sizeof(p2p_stat_totals));
  if (info56) std::memcpy(info56, &g_roller.info(), sizeof(p2p_stat_info));
}

void stat_copy_netinfo(void* last_second104, void* totals104, void* udp1024, void* tcp1024, void* reads72) {
  if (last_second104) std::memcpy(last_second104, &g_roller.last_second(), sizeof(net_counters));
  if (totals104) std::memcpy(totals104, &g_roller.running_total(), sizeof(net_counters));
  if (udp1024) std::memcpy(udp1024, g_table_a.last_second, sizeof g_table_a.last_second);
  if (tcp1024) std::memcpy(tcp1024, g_table_b.last_second, sizeof g_table_b.last_second);
  if (reads72) {
    read_counter_set r = g_reads;
    r.upload_limit_kb <<= 10;
    r.bandwidth = uint32_t(settings().bw_u);
    r.speed_mode = uint32_t(options().speed_control_mode);
    // Offline when no datagram came for twice the keep-NAT period plus 5 s.
    const uint32_t keep_nat_ms = uint32_t(g_keep_nat_ms);
    if (r.online && GetTickCount() - uint32_t(g_last_datagram_tick) > 2 * keep_nat_ms + 5000) r.online = 0;
    std::memcpy(reads72, &r, sizeof r);
  }
}

}  // namespace p2p
