// Keys, defaults and clamps of the settings file, the log threshold and the user id text.
#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "p2pcore/codec/settings_values.h"

namespace {

class map_source : public p2p::settings_source {
 public:
  std::map<std::string, std::string> values;  // "Section/Key" -> text
  // Every key asked for, in order, with the fallback the reader gave.
  std::vector<std::pair<std::string, std::string>> asked;
  int get_int(const char* s, const char* k, int fallback) override {
    asked.push_back({std::string(s) + "/" + k, std::to_string(fallback)});
    auto it = values.find(std::string(s) + "/" + k);
    return it == values.end() ? fallback : std::atoi(it->second.c_str());
  }
  std::string get_text(const char* s, const char* k, const char* fallback) override {
    asked.push_back({std::string(s) + "/" + k, fallback});
    auto it = values.find(std::string(s) + "/" + k);
    return it == values.end() ? fallback : it->second;
  }
};

using field_of = std::string (*)(const p2p::p2p_settings&);
#define FIELD(f) [](const p2p::p2p_settings& s) { return text_of(s.f); }
std::string text_of(int v) { return std::to_string(v); }
std::string text_of(uint64_t v) { return std::to_string(v); }
std::string text_of(const std::string& v) { return v; }

// The keys of the settings file in the order they are read: the default the
// reader falls back on, the record field it fills, and a value set in the file.
struct Key {
  const char* key;       // "Section/Key"
  const char* fallback;  // what the reader passes for a missing key
  field_of field;
  const char* empty;     // the field from a file without the key
  const char* set;       // a value in the file ...
  const char* read;      // ... and the field it gives
};
const Key kKeys[] = {
    {"Netcard/bw_u_limit_kb", "0", FIELD(bw_u_limit_kb), "0", "300", "300"},
    {"Netcard/bw_u", "0", FIELD(bw_u), "0", "2048", "2048"},
    {"Netcard/lan_port", "8000", FIELD(lan_port), "8000", "8100", "8100"},
    {"Netcard/tcp_port", "8006", FIELD(tcp_port), "8006", "9006", "9006"},
    {"Netcard/tcp_udp", "1", FIELD(tcp_udp), "1", "0", "0"},
    {"OthersSet/ServHost", "", FIELD(serv_host), "", "cp.example", "cp.example"},
    {"OthersSet/BindHost", "", FIELD(bind_host), "", "10.0.0.2", "10.0.0.2"},
    {"OthersSet/ServPort", "0", FIELD(serv_port), "0", "18000", "18000"},
    {"OthersSet/TcpLocalHost", "", FIELD(tcp_local_host), "", "10.0.0.3", "10.0.0.3"},
    {"OthersSet/Debug", "9", FIELD(debug), "9", "8", "8"},
    {"OthersSet/LogCount", "5", FIELD(log_count), "5", "7", "7"},
    {"OthersSet/DebugOutMode", "1", FIELD(debug_out_mode), "1", "0", "0"},
    {"OthersSet/DebugUpSpeedPeer", "0", FIELD(debug_up_speed_peer), "0", "1", "1"},
    {"OthersSet/DebugDisableSource", "0", FIELD(debug_disable_source), "0", "1", "1"},
    {"OthersSet/DebugDisablePeer", "0", FIELD(debug_disable_peer), "0", "1", "1"},
    {"OthersSet/DebugDisableLan", "0", FIELD(debug_disable_lan), "0", "1", "1"},
    {"OthersSet/UploadThreadCount", "10", FIELD(upload_thread_count), "10", "3", "3"},
    {"OthersSet/UploadUserMax", "500", FIELD(upload_user_max), "500", "7", "7"},
    {"OthersSet/SyncIO", "0", FIELD(sync_io), "0", "1", "1"},
    {"OthersSet/UseCache", "0", FIELD(use_cache), "0", "1", "1"},
    {"OthersSet/CacheBlockSize", "256", FIELD(cache_block_size), "256", "512", "512"},
    {"OthersSet/MaxCacheSize", "600", FIELD(max_cache_size), "600", "100", "100"},
    {"OthersSet/CacheOutPercent", "30", FIELD(cache_out_percent), "30", "50", "50"},
    {"OthersSet/UserCacheHitedPer", "30", FIELD(user_cache_hited_per), "30", "40", "40"},
    {"OthersSet/LocalShareList", "1", FIELD(local_share_list), "1", "0", "0"},
    {"OthersSet/ForceTcp", "1", FIELD(force_tcp), "1", "0", "0"},
    {"OthersSet/Publish", "1", FIELD(publish), "1", "0", "0"},
    {"AdvanceSet/UserID", "0", FIELD(user_id), "0", "18446744073709551615", "18446744073709551615"},
    {"AdvanceSet/SubNetID", "0", FIELD(subnet_id), "0", "12", "12"},
    {"AdvanceSet/NodeType", "5", FIELD(node_type), "5", "6", "6"},
    {"AppendPeer/uid", "0", FIELD(append_uid), "0", "77", "77"},
    {"AppendPeer/pub_ip", "", FIELD(append_pub_ip), "", "1.2.3.4", "1.2.3.4"},
    {"AppendPeer/pub_port", "0", FIELD(append_pub_port), "0", "4000", "4000"},
    {"AppendPeer/lan_ip", "", FIELD(append_lan_ip), "", "192.168.1.9", "192.168.1.9"},
    {"AppendPeer/lan_port", "0", FIELD(append_lan_port), "0", "4001", "4001"},
    {"AppendPeer/only_me", "0", FIELD(append_only_me), "0", "1", "1"},
};
#undef FIELD

// One row per key: read in the file's order with its default, an empty file
// gives the default, and a value in the file reaches its field.
TEST(SettingsValues, EveryKeyWithItsDefault) {
  ASSERT_EQ(std::size(kKeys), 36u);
  map_source empty;
  p2p::p2p_settings defaults;
  p2p::read_settings(empty, defaults);
  ASSERT_EQ(empty.asked.size(), std::size(kKeys)) << "keys read";
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    const Key& k = kKeys[i];
    SCOPED_TRACE(k.key);
    EXPECT_EQ(empty.asked[i].first, k.key) << "read in the file's order";
    EXPECT_EQ(empty.asked[i].second, k.fallback);
    EXPECT_EQ(k.field(defaults), k.empty);
    EXPECT_EQ(k.field(p2p::p2p_settings()), k.empty) << "the record's own initial value";
    map_source one;
    one.values[k.key] = k.set;
    p2p::p2p_settings s;
    p2p::read_settings(one, s);
    EXPECT_EQ(k.field(s), k.read);
  }
}

TEST(SettingsValues, DefaultsFromAnEmptyFile) {
  map_source src;
  p2p::p2p_settings s;
  p2p::read_settings(src, s);
  EXPECT_EQ(s.lan_port, 8000);
  EXPECT_EQ(s.tcp_port, 8006);
  EXPECT_EQ(s.debug, 9);
  EXPECT_EQ(s.log_count, 5);
  EXPECT_EQ(s.upload_thread_count, 10);
  EXPECT_EQ(s.upload_user_max, 500);
  EXPECT_EQ(s.local_share_list, 1);
  EXPECT_EQ(s.node_type, 5);
  EXPECT_EQ(s.user_id, 0u);
  EXPECT_EQ(s.cache_block_size, 256);
  EXPECT_EQ(s.max_cache_size, 600);
}

TEST(SettingsValues, Clamps) {
  struct Row { const char* key; const char* value; int threads; int users; };
  const Row rows[] = {
      {"OthersSet/UploadThreadCount", "2000", 1, 500}, {"OthersSet/UploadThreadCount", "-3", 1, 500},
      {"OthersSet/UploadThreadCount", "0", 0, 500},    {"OthersSet/UploadThreadCount", "100", 64, 500},
      {"OthersSet/UploadThreadCount", "64", 64, 500},  {"OthersSet/UploadThreadCount", "3", 3, 500},
      {"OthersSet/UploadThreadCount", "-1", 1, 500},   {"OthersSet/UploadThreadCount", "1", 1, 500},
      {"OthersSet/UploadThreadCount", "1024", 64, 500}, {"OthersSet/UploadThreadCount", "1025", 1, 500},
      {"OthersSet/UploadUserMax", "0", 10, 500},       {"OthersSet/UploadUserMax", "-1", 10, 500},
      {"OthersSet/UploadUserMax", "7", 10, 7},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.key) + "=" + r.value);
    map_source src;
    src.values[r.key] = r.value;
    p2p::p2p_settings s;
    p2p::read_settings(src, s);
    EXPECT_EQ(s.upload_thread_count, r.threads);
    EXPECT_EQ(s.upload_user_max, r.users);
  }
}

TEST(SettingsValues, UploadLimitReadOnlyWhileZero) {
  map_source src;
  src.values["Netcard/bw_u_limit_kb"] = "300";
  p2p::p2p_settings s;
  p2p::read_settings(src, s);
  EXPECT_EQ(s.bw_u_limit_kb, 300);
  src.values["Netcard/bw_u_limit_kb"] = "100";
  p2p::read_settings(src, s);
  EXPECT_EQ(s.bw_u_limit_kb, 300);
}

TEST(SettingsValues, ThresholdAndUserId) {
  struct T { int level; int threshold; };
  for (T t : {T{8, 1}, T{9, 2}, T{0, 10}, T{7, 10}, T{12, 10}, T{-1, 10}}) {
    SCOPED_TRACE(t.level);
    EXPECT_EQ(p2p::log_threshold_for(t.level), t.threshold);
  }
  struct U { const char* text; uint64_t id; };
  const U ids[] = {{"0", 0}, {"123", 123}, {"18446744073709551615", UINT64_MAX}, {"18446744073709551616", 0},
                   {"-5", 0}, {"12ab", 0}, {"", 0}, {"9223372036854775808", 9223372036854775808ull}};
  for (const U& u : ids) {
    SCOPED_TRACE(u.text);
    EXPECT_EQ(p2p::parse_user_id(u.text), u.id);
  }
  // Written and read as the same unsigned type: ids above 2^63 survive.
  EXPECT_EQ(p2p::parse_user_id(p2p::user_id_text(0xF000000000000001ull)), 0xF000000000000001ull);
}

}  // namespace
