// Keys, defaults and clamps of the settings file, the log threshold and the user id text.
#include <gtest/gtest.h>

#include <map>

#include "p2pcore/codec/settings_values.h"

namespace {

class map_source : public p2p::settings_source {
 public:
  std::map<std::string, std::string> values;  // "Section/Key" -> text
  int get_int(const char* s, const char* k, int fallback) override {
    auto it = values.find(std::string(s) + "/" + k);
    return it == values.end() ? fallback : std::atoi(it->second.c_str());
  }
  std::string get_text(const char* s, const char* k, const char* fallback) override {
    auto it = values.find(std::string(s) + "/" + k);
    return it == values.end() ? fallback : it->second;
  }
};

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
      {"OthersSet/UploadThreadCount", "0", 1, 500},    {"OthersSet/UploadThreadCount", "100", 64, 500},
      {"OthersSet/UploadThreadCount", "64", 64, 500},  {"OthersSet/UploadThreadCount", "3", 3, 500},
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
