// The settings record of the upload core and the rules that turn the keys of
// its settings file into it (defaults, clamps, log threshold). Reading the
// file is left to a source the caller provides. Platform-free.
#pragma once
#include <cstdint>
#include <string>

namespace p2p {

// Upload workers the handle array holds.
constexpr int kMaxUploadThreads = 64;

struct p2p_settings {
  int bw_u_limit_kb = 0;
  int bw_u = 0;
  int lan_port = 8000;
  int tcp_port = 8006;
  int tcp_udp = 1;
  std::string serv_host;
  std::string bind_host;       // "0.0.0.0" when empty
  int serv_port = 0;
  std::string tcp_local_host;  // "0.0.0.0" when empty
  int debug = 9;
  int log_count = 5;
  int debug_out_mode = 1;
  int debug_up_speed_peer = 0;
  int debug_disable_source = 0;
  int debug_disable_peer = 0;
  int debug_disable_lan = 0;
  int upload_thread_count = 10;
  int upload_user_max = 500;
  int sync_io = 0;
  int use_cache = 0;
  int cache_block_size = 256;
  int max_cache_size = 600;
  int cache_out_percent = 30;
  int user_cache_hited_per = 30;
  int local_share_list = 1;
  int force_tcp = 1;
  int publish = 1;
  uint64_t user_id = 0;
  int subnet_id = 0;
  int node_type = 5;
  int append_uid = 0;
  std::string append_pub_ip;
  int append_pub_port = 0;
  std::string append_lan_ip;
  int append_lan_port = 0;
  int append_only_me = 0;
};

class settings_source {
 public:
  virtual ~settings_source() = default;
  virtual int get_int(const char* section, const char* key, int fallback) = 0;
  virtual std::string get_text(const char* section, const char* key, const char* fallback) = 0;
};

// Fills the record key by key in the file's order. The upload limit is read
// only while the record's limit is still 0.
void read_settings(settings_source& source, p2p_settings& s);

// 0 stays 0 (requests are served on the caller's thread); below 0 and above
// 1024 give 1; above the handle array's size its size.
int clamp_upload_threads(int configured);
// 8 gives 1, 9 gives 2, anything else 10 (nothing written).
int log_threshold_for(int level);
// Decimal u64; anything else (sign, junk, overflow) gives 0.
uint64_t parse_user_id(const std::string& text);
std::string user_id_text(uint64_t id);

}  // namespace p2p
