// Reading and writing the settings file through the private-profile functions.
#include "p2pcore/ke/setting.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdio>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"

namespace p2p {

std::wstring settings_path() { return join_path(app_dir(), options_ini_name()); }

namespace {

class profile_source : public settings_source {
 public:
  explicit profile_source(const std::wstring& wide) {
    // The narrow profile functions need the path in ANSI; a path without an
    // exact ANSI form reads nothing (defaults) rather than another file.
    ok_ = to_ansi_exact(wide.c_str(), &path_);
  }
  int get_int(const char* section, const char* key, int fallback) override {
    return ok_ ? int(GetPrivateProfileIntA(section, key, fallback, path_.c_str())) : fallback;
  }
  std::string get_text(const char* section, const char* key, const char* fallback) override {
    if (!ok_) return fallback;
    char value[1024] = {};
    GetPrivateProfileStringA(section, key, fallback, value, sizeof value, path_.c_str());
    return value;
  }
  const std::string& path() const { return path_; }
  bool ok() const { return ok_; }

 private:
  std::string path_;
  bool ok_;
};

void write_value(const std::string& path, const char* section, const char* key, const std::string& value) {
  WritePrivateProfileStringA(section, key, value.c_str(), path.c_str());
}

std::string number(long long v) {
  char t[32];
  std::snprintf(t, sizeof t, "%lld", v);
  return t;
}

}  // namespace

bool settings_read(p2p_settings* s) {
  if (!s) return false;
  profile_source src(settings_path());
  read_settings(src, *s);
  if (s->debug >= 8) {
    log_set_threshold(log_threshold_for(s->debug));
    log_open(s->log_count, s->debug_out_mode);
  }
  options().node_type = uint8_t(s->node_type);
  if (s->local_share_list) options().local_share = 1;
  uint16_t v[4];
  module_version(v);
  P2P_LOG(4, "p2p core Ver %u.%u.%u Build %u", v[0], v[1], v[2], v[3]);
  P2P_LOG(4, "Process %s", program_path_ansi().c_str());
  P2P_LOG(4, "Command line = [%s]\r\n", command_line().c_str());
  return true;
}

void settings_write_network(const network_facts& f) {
  if (options().temp_mode) return;
  std::string path;
  if (!to_ansi_exact(settings_path().c_str(), &path)) return;
  char mac[16];
  std::snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", f.mac[0], f.mac[1], f.mac[2], f.mac[3], f.mac[4],
                f.mac[5]);
  write_value(path, "Netcard", "name", f.interface_name);
  write_value(path, "Netcard", "mac", mac);
  write_value(path, "Netcard", "lan_ip", Ipv4Text(f.lan_ip));
  write_value(path, "Netcard", "wan_ip", Ipv4Text(f.wan_ip));
  write_value(path, "Netcard", "lan_port", number(f.lan_port));
  write_value(path, "Netcard", "wan_port", number(f.wan_port));
  write_value(path, "Netcard", "bw_u", number(f.bw_u));
  write_value(path, "Netcard", "bw_d", number(f.bw_d));
}

void settings_write_user_id(uint64_t user_id) {
  if (options().temp_mode) return;
  std::string path;
  if (!to_ansi_exact(settings_path().c_str(), &path)) return;
  // Unsigned, as it is read back.
  write_value(path, "AdvanceSet", "UserID", user_id_text(user_id));
}

}  // namespace p2p
