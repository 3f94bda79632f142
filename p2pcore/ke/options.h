// Library-wide state that the exports set: texts (application directory,
// settings file name, server host) copied bounded under a lock, option flags
// as atomics (the exports set them, the scheduler and workers read them), and
// the settings read at start.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>

#include "p2pcore/codec/settings_values.h"

namespace p2p {

constexpr size_t kAppDirUnits = 260;
constexpr size_t kServerHostChars = 255;
constexpr uint16_t kDefaultServerPort = 8000;
extern const char kDefaultServerHost[];

struct option_flags {
  std::atomic<int> temp_mode{0};
  std::atomic<int> local_share{0};
  std::atomic<int> no_submit_share{0};
  std::atomic<int> downloader_mode{0};
  std::atomic<int> uploader_mode{0};
  std::atomic<int> english_ver{0};
  std::atomic<int> allow_add_share{1};
  std::atomic<int> auto_reload_share_list{0};
  std::atomic<int> speed_control_mode{0};  // 0 auto, 1 min, 2 max
  std::atomic<uint8_t> node_type{5};
  std::atomic<int> product_id{0};
  std::atomic<int> product_value{0};
  std::atomic<int> upload_cache{0};
  std::atomic<uint32_t> forced_sp_ip{0};  // network order
  std::atomic<int> forced_sp_port{0};
  std::atomic<int> download_limit{0};
  std::atomic<int> log_level{9};
  std::atomic<uint16_t> server_udp_port{kDefaultServerPort};
  std::atomic<uint16_t> server_tcp_port{kDefaultServerPort};
};

option_flags& options();
// The settings record, filled by the first start.
p2p_settings& settings();

// Texts: each copy is bounded and terminated.
void options_set_app_dir(const wchar_t* dir);     // at most 260 units
std::wstring options_app_dir();
void options_set_ini_name(const wchar_t* name);   // also sets the log base name
std::wstring options_ini_name();
void options_set_server_host(const char* host);  // at most 255 characters
std::string options_server_host();

}  // namespace p2p
