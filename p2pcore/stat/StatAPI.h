// Statistics of the upload core: the shared counters, the once-a-second
// roll, the one-minute reports through three Tallyhub reporters, and the
// copies for p2p_get_statinfo and p2p_get_netinfo.
#pragma once
#include <cstdint>

#include "p2pcore/codec/stat_roll.h"

namespace p2p {

// Counters updated by the scheduler and upload threads (interlocked; the roll
// takes each field and clears it in one step).
void stat_add(uint64_t net_counters::*field, uint64_t n);
void stat_count_udp_command(uint16_t code);       // table A, low byte
void stat_count_link_command(uint16_t code);      // table A, (code - 96) mod 256
void stat_count_tcp_peer_command(uint16_t code);  // table B
void stat_add_upload(uint64_t upload_counters::*field, uint64_t n);
void stat_add_download(uint64_t download_counters::*field, uint64_t n);
download_counters stat_download_counters();
read_counter_set& stat_read_counters();
// The running block-read counters that p2p_get_netinfo reports (u32, wrapping).
void stat_add_read_counter(uint32_t read_counter_set::*field, uint32_t n);
// The configured upload limit, reported at offset 12 of the block-read counters.
void stat_set_upload_limit(uint64_t bytes_per_second);
// NAT test probes received (total) and answered (count), for p2p_get_nat_stat.
void stat_note_nat_probe(bool answered);
void stat_nat_counters(int* total, int* count);
void stat_set_online(bool online);

// Statistics host of the reporters (a deployment value).
extern const char kStatHost[];
constexpr unsigned short kStatPort = 9000;

void stat_start();   // first p2p_initialize: reporters and server
void stat_stop();    // last p2p_uninitialize: reporters deleted
void stat_roll_second();
void stat_report_minute();

void stat_copy_info(void* totals24, void* info56);
void stat_copy_netinfo(void* last_second104, void* totals104, void* udp_commands1024, void* tcp_commands1024,
                       void* reads72);
// Milliseconds (GetTickCount) of the last UDP datagram received, for the online flag.
void stat_note_datagram_received();
// The session's keep-NAT period, which that flag's time-out follows.
void stat_set_keep_nat_ms(uint32_t ms);

}  // namespace p2p
