// Keys, defaults and clamps of the upload core's settings file.
#include "p2pcore/codec/settings_values.h"

#include <cinttypes>
#include <cstdio>

namespace p2p {

int clamp_upload_threads(int configured) {
  if (configured < 0 || configured > 1024) return 1;
  return configured > kMaxUploadThreads ? kMaxUploadThreads : configured;
}

int log_threshold_for(int level) {
  if (level == 8) return 1;
  if (level == 9) return 2;
  return 10;
}

uint64_t parse_user_id(const std::string& text) {
  if (text.empty() || text.size() > 20) return 0;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    uint64_t digit = uint64_t(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return 0;
    value = value * 10 + digit;
  }
  return value;
}

std::string user_id_text(uint64_t id) {
  char text[24];
  std::snprintf(text, sizeof text, "%" PRIu64, id);
  return text;
}

void read_settings(settings_source& src, p2p_settings& s) {
  const char* net = "Netcard";
  if (s.bw_u_limit_kb == 0) s.bw_u_limit_kb = src.get_int(net, "bw_u_limit_kb", 0);
  s.bw_u = src.get_int(net, "bw_u", 0);
  s.lan_port = src.get_int(net, "lan_port", 8000);
  s.tcp_port = src.get_int(net, "tcp_port", 8006);
  s.tcp_udp = src.get_int(net, "tcp_udp", 1);

  const char* other = "OthersSet";
  s.serv_host = src.get_text(other, "ServHost", "");
  s.bind_host = src.get_text(other, "BindHost", "");
  s.serv_port = src.get_int(other, "ServPort", 0);
  s.tcp_local_host = src.get_text(other, "TcpLocalHost", "");
  s.debug = src.get_int(other, "Debug", 9);
  s.log_count = src.get_int(other, "LogCount", 5);
  s.debug_out_mode = src.get_int(other, "DebugOutMode", 1);
  s.debug_up_speed_peer = src.get_int(other, "DebugUpSpeedPeer", 0);
  s.debug_disable_source = src.get_int(other, "DebugDisableSource", 0);
  s.debug_disable_peer = src.get_int(other, "DebugDisablePeer", 0);
  s.debug_disable_lan = src.get_int(other, "DebugDisableLan", 0);
  s.upload_thread_count = clamp_upload_threads(src.get_int(other, "UploadThreadCount", 10));
  s.upload_user_max = src.get_int(other, "UploadUserMax", 500);
  if (s.upload_user_max <= 0) s.upload_user_max = 500;
  s.sync_io = src.get_int(other, "SyncIO", 0);
  s.use_cache = src.get_int(other, "UseCache", 0);
  s.cache_block_size = src.get_int(other, "CacheBlockSize", 256);
  s.max_cache_size = src.get_int(other, "MaxCacheSize", 600);
  s.cache_out_percent = src.get_int(other, "CacheOutPercent", 30);
  s.user_cache_hited_per = src.get_int(other, "UserCacheHitedPer", 30);
  s.local_share_list = src.get_int(other, "LocalShareList", 1);
  s.force_tcp = src.get_int(other, "ForceTcp", 1);
  s.publish = src.get_int(other, "Publish", 1);

  const char* adv = "AdvanceSet";
  s.user_id = parse_user_id(src.get_text(adv, "UserID", "0"));
  s.subnet_id = src.get_int(adv, "SubNetID", 0);
  s.node_type = src.get_int(adv, "NodeType", 5);

  const char* peer = "AppendPeer";
  s.append_uid = src.get_int(peer, "uid", 0);
  s.append_pub_ip = src.get_text(peer, "pub_ip", "");
  s.append_pub_port = src.get_int(peer, "pub_port", 0);
  s.append_lan_ip = src.get_text(peer, "lan_ip", "");
  s.append_lan_port = src.get_int(peer, "lan_port", 0);
  s.append_only_me = src.get_int(peer, "only_me", 0);
}

}  // namespace p2p
