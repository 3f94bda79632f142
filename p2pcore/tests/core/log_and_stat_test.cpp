// The library's log (threshold, line form, GBK texts, rotation) and the
// one-minute statistics reports through the Tallyhub stand-in.
#include <gtest/gtest.h>

#include "p2pcore/ke/options.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"
#include "p2pcore/tests/core/core_fixture.h"

namespace {

int count_files(const std::string& pattern) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return 0;
  int n = 0;
  do ++n;
  while (FindNextFileA(h, &fd));
  FindClose(h);
  return n;
}

TEST(Log, ThresholdLineFormAndGbk) {
  core_test::scratch dir;
  p2p::options_set_app_dir(std::wstring(dir.dir.begin(), dir.dir.end()).c_str());
  p2p::log_set_base_name("unit");
  p2p::log_set_threshold(2);
  p2p::log_open(5, 1);
  P2P_LOG(1, "trace line %d", 1);
  P2P_LOG(2, "state line %d", 2);
  p2p::log_set_threshold(1);
  P2P_LOG(1, "trace line %d", 3);
  p2p::log_set_threshold(10);
  P2P_LOG(9, "never %d", 4);
  p2p::log_set_threshold(1);
  P2P_LOG(3, "%s", p2p::gbk("无数据").c_str());
  const uint8_t hash[16] = {0xAB, 0xCD};
  P2P_LOG_HASH(2, hash, "with hash");
  p2p::log_close();
  const std::string text = core_test::read_file(dir.dir + "log\\unit.log");
  EXPECT_EQ(text.find("trace line 1"), std::string::npos);
  EXPECT_NE(text.find("state line 2"), std::string::npos);
  EXPECT_NE(text.find("trace line 3"), std::string::npos);
  EXPECT_EQ(text.find("never"), std::string::npos);
  EXPECT_NE(text.find("\xCE\xDE\xCA\xFD\xBE\xDD"), std::string::npos);  // GBK bytes
  EXPECT_NE(text.find("ABCD0000000000000000000000000000 P2P[log_and_stat_test.cpp:"), std::string::npos);
  // "\r\n[yyyy-mm-dd hh:mm:ss:mmm] P2P[file:line:thread]text"
  ASSERT_GE(text.size(), 30u);
  EXPECT_EQ(text.substr(0, 3), "\r\n[");
  EXPECT_EQ(text[7], '-');
  EXPECT_EQ(text[26], ']');
  EXPECT_EQ(text.substr(27, 5), " P2P[");
}

TEST(Log, RotationKeepsLogCountFiles) {
  core_test::scratch dir;
  p2p::options_set_app_dir(std::wstring(dir.dir.begin(), dir.dir.end()).c_str());
  p2p::log_set_base_name("rot");
  p2p::log_set_threshold(1);
  p2p::log_set_rotate_bytes(200);
  p2p::log_open(2, 1);
  // Rotated names carry the second of the move: four moves in four seconds.
  for (int i = 0; i < 4; ++i) {
    P2P_LOG(9, "%s", std::string(300, char('a' + i)).c_str());
    Sleep(1050);
  }
  P2P_LOG(9, "last");
  p2p::log_close();
  p2p::log_set_rotate_bytes(0xC800000);
  EXPECT_EQ(count_files(dir.dir + "log\\rot_*.log"), 2);
  const std::string current = core_test::read_file(dir.dir + "log\\rot.log");
  EXPECT_NE(current.find("last"), std::string::npos);
  EXPECT_EQ(current.find("aaaa"), std::string::npos);
}

// Every start rotates the last one's file: LogCount holds over the dated
// files in the folder, whoever rotated them.
TEST(Log, LogCountHoldsOverEarlierStarts) {
  core_test::scratch dir;
  p2p::options_set_app_dir(std::wstring(dir.dir.begin(), dir.dir.end()).c_str());
  p2p::log_set_base_name("starts");
  p2p::log_set_threshold(1);
  CreateDirectoryA((dir.dir + "log").c_str(), nullptr);
  // What 16 earlier starts left behind, and the last one's current file.
  for (int day = 10; day < 26; ++day) dir.write("log\\starts_202401" + std::to_string(day) + "120000.log", {'x'});
  dir.write("log\\starts.log", {'y'});
  dir.write("log\\starts_notes.log", {'z'});
  p2p::log_open(5, 1);
  P2P_LOG(9, "this start");
  p2p::log_close();
  EXPECT_EQ(count_files(dir.dir + "log\\starts_??????????????.log"), 5);
  // The newest stay: four of the earlier ones and the file this start rotated.
  for (int day = 22; day < 26; ++day)
    EXPECT_EQ(count_files(dir.dir + "log\\starts_202401" + std::to_string(day) + "120000.log"), 1) << day;
  EXPECT_EQ(count_files(dir.dir + "log\\starts_notes.log"), 1);
  EXPECT_NE(core_test::read_file(dir.dir + "log\\starts.log").find("this start"), std::string::npos);
}

TEST(Stat, MinuteReportsHoldOnlyNonZeroCounts) {
  core_test::scratch dir;
  const std::string reports = dir.dir + "reports.txt";
  SetEnvironmentVariableA("TALLYHUB_REPORT_FILE", reports.c_str());
  p2p::stat_start();
  p2p::stat_count_udp_command(28);
  p2p::stat_count_udp_command(28);
  p2p::stat_count_link_command(97);  // (97 - 96) mod 256
  p2p::stat_count_tcp_peer_command(18);
  p2p::stat_add(&p2p::net_counters::upload_payload_bytes, 4096);
  p2p::stat_roll_second();
  p2p::stat_report_minute();
  p2p::stat_report_minute();  // the minute sums were cleared
  p2p::stat_stop();
  const std::string text = core_test::read_file(reports);
  EXPECT_NE(text.find("category=UDPCMD server="), std::string::npos);
  EXPECT_NE(text.find(" 1=u64:1 28=u64:2\n"), std::string::npos);
  EXPECT_NE(text.find("category=TCPCMD server= 18=u64:1\n"), std::string::npos);
  EXPECT_NE(text.find("category=PERFORMANCE server= 1=u64:4096 2=u64:0"), std::string::npos);
  EXPECT_NE(text.find("category=UDPCMD server=\n"), std::string::npos);  // second minute: nothing to add
  EXPECT_NE(text.find("product=ORCHARD version=1.0.3.36 kind= "), std::string::npos);
  SetEnvironmentVariableA("TALLYHUB_REPORT_FILE", nullptr);
}

TEST(UploadUsers, ListedRows) {
  auto* m = p2p::get_upload_user_manager();
  m->clear();
  const uint32_t now = 2000000000u;
  struct Row { uint8_t id; uint32_t created, first, last; bool listed; };
  const Row rows[] = {{1, now - 5, 0, now - 5, true}, {2, now - 100, 0, now - 100, false},
                      {3, now - 100, now - 90, now - 10, true}, {4, now - 100, now - 90, now - 70, false}};
  for (const Row& r : rows) {
    upload_user_info info = {};
    info.user_id = r.id;
    info.created = r.created;
    info.first_transfer = r.first;
    info.last_transfer = r.last;
    m->put_user(info);
  }
  upload_user_info out[4];
  EXPECT_EQ(m->copy_uplist(out, 4, now), 2);
  EXPECT_EQ(m->copy_uplist(out, 1, now), 1);
  EXPECT_EQ(m->copy_uplist(nullptr, 4, now), 0);
  EXPECT_EQ(p2p::upload_user_key(core_test::fid(0).data(), 5).substr(32), "|5");
  m->clear();
}

}  // namespace
