// Seedlift.dll driven through its exports only: ordinals and names, version,
// nested start and stop, p2p_add_share results, list and statistics records,
// the settings file before and after, share-list files and temp mode.
#include <gtest/gtest.h>

#include <cstring>

#include "p2pcore/tests/dll/seedlift_loader.h"
#include "p2pcore/codec/tests/share_list_writer.h"

namespace {

using seedlift_test::lib;
using seedlift_test::scratch_dir;

std::vector<uint8_t> fid_of(uint8_t n) {
  std::vector<uint8_t> fid(16);
  for (int i = 0; i < 16; ++i) fid[i] = uint8_t(n + i * 17);
  return fid;
}

uint16_t free_udp_port() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return ntohs(a.sin_port);
}

// Points the library at a scratch directory with the given settings file.
class SeedliftTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib().module) << "Seedlift.dll did not load";
    lib().set_p2p_app_path(dir.path().c_str());
    lib().set_p2p_allow_add_share(1);
  }
  void start(const std::string& ini = "[OthersSet]\r\nDebug=8\r\n") {
    if (!ini.empty()) dir.write_text(L"P2PCfg.ini", ini);
    ASSERT_EQ(lib().p2p_initialize(), 1);
  }
  std::wstring media(const std::wstring& name, size_t size, uint8_t seed = 1) {
    dir.write(name, seedlift_test::bytes_of_size(size, seed));
    return dir.file(name);
  }
  scratch_dir dir;
};

TEST_F(SeedliftTest, OrdinalsAndNames) {
  static const char* const by_ordinal[] = {
      "p2p_initialize", "p2p_uninitialize", "set_p2p_upload_english_ver", "create_p2p_task", "decode_data",
      "delete_p2p_peer", "delete_p2p_task", "get_filesize", "get_p2p_id", "get_p2p_version",
      "get_p2phandle_peerinfo", "get_p2phandle_serverlist", "get_p2phandle_serverlog", "get_upload_cache_info",
      "my_gethostbyname", "p2p_add_share", "p2p_add_share_ex", "p2p_delete_share", "p2p_delete_share_byfid",
      "p2p_find_share", "p2p_get_handle_info", "p2p_get_nat_stat", "p2p_get_netinfo", "p2p_get_share_count",
      "p2p_get_share_file_by_md5", "p2p_get_share_filelist", "p2p_get_statinfo", "p2p_get_uplist",
      "p2p_initialize_network", "p2p_move_share", "p2p_pause_share", "p2p_pause_share_byfid", "p2p_pause_upload",
      "p2p_reload_option", "p2p_set_finish", "p2p_task_get_uplist", "p2p_task_limit_speed", "reload_ip_list",
      "search_peer", "set_auto_reload_sharelist", "set_p2p_allow_add_share", "set_p2p_app_path",
      "set_p2p_debug_flag", "set_p2p_debug_level", "set_p2p_debug_supernode", "set_p2p_download_speed_max",
      "set_p2p_downloader_mode", "set_p2p_ini_filename", "set_p2p_local_share", "set_p2p_no_submit_share",
      "set_p2p_node_type", "set_p2p_product", "set_p2p_server_host", "set_p2p_temp_mode",
      "set_p2p_upload_speed_control", "set_p2p_upload_speed_max", "set_p2p_uploader_mode", "set_share_files_limit",
      "set_upload_cache_info", "start_p2p_task", "upload_task_limit_usercount"};
  static_assert(sizeof by_ordinal / sizeof *by_ordinal == 61, "61 exports");
  for (int i = 0; i < 61; ++i) {
    SCOPED_TRACE(std::string(by_ordinal[i]) + " @" + std::to_string(i + 1));
    FARPROC named = GetProcAddress(lib().module, by_ordinal[i]);
    EXPECT_NE(named, nullptr);
    EXPECT_EQ(GetProcAddress(lib().module, MAKEINTRESOURCEA(i + 1)), named);
  }
  EXPECT_EQ(GetProcAddress(lib().module, MAKEINTRESOURCEA(62)), nullptr);
}

TEST_F(SeedliftTest, VersionAndFixedAnswers) {
  uint32_t version = 0, build = 0;
  lib().get_p2p_version(&version, &build);
  const uint8_t expected[4] = {1, 0, 3, 36};
  EXPECT_EQ(std::memcmp(&version, expected, 4), 0);
  EXPECT_EQ(build, 36u);
  lib().get_p2p_version(nullptr, nullptr);
  EXPECT_EQ(lib().decode_data(nullptr, 0), 1);
  uint64_t out = 99;
  EXPECT_EQ(lib().p2p_find_share(fid_of(1).data(), &out), 0);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(lib().set_p2p_node_type(0x105), 5);
  EXPECT_EQ(lib().set_p2p_debug_level(9), 9);
  EXPECT_EQ(lib().set_p2p_debug_supernode(nullptr, 1), 0);
  EXPECT_EQ(lib().set_p2p_debug_supernode("1.2.3.4", 8000), 1);
  EXPECT_EQ(lib().p2p_initialize_network(0), 0);
}

// The thread count once the scheduler thread has started or ended its upload workers.
int settled_thread_count() {
  int last = -1, now = seedlift_test::thread_count();
  for (int i = 0; i < 40 && now != last; ++i) {
    Sleep(150);
    last = now;
    now = seedlift_test::thread_count();
  }
  return now;
}

TEST_F(SeedliftTest, StartAndStopNest) {
  const std::wstring a = media(L"a.wmv", 1000);
  // The scheduler thread "p2p_scheduler" and two "p2p_upload" workers.
  const std::string ini = "[OthersSet]\r\nDebug=8\r\nUploadThreadCount=2\r\n";
  const int library_threads = 3;
  const int threads_before = seedlift_test::thread_count();
  start(ini);
  const int threads_running = settled_thread_count();
  EXPECT_GE(threads_running, threads_before + library_threads);
  EXPECT_EQ(lib().p2p_initialize(), 1);        // nested: nothing restarts
  EXPECT_EQ(lib().p2p_add_share(a.c_str(), 1000, fid_of(2).data()), P2P_SHARE_ADDED);
  lib().p2p_uninitialize();  // inner stop: still running
  EXPECT_EQ(lib().p2p_get_share_count(), 1);
  EXPECT_EQ(seedlift_test::thread_count(), threads_running);
  EXPECT_EQ(dir.read_text(L"log\\p2pbase.log").find("p2p_uninitialize ok."), std::string::npos);
  lib().p2p_uninitialize();  // last stop
  EXPECT_EQ(lib().p2p_get_share_count(), 0);
  EXPECT_EQ(settled_thread_count(), threads_running - library_threads);
  const std::string log = dir.read_text(L"log\\p2pbase.log");
  EXPECT_NE(log.find("P2P init ok"), std::string::npos);
  EXPECT_NE(log.find("p2p_uninitialize ok."), std::string::npos);
  EXPECT_NE(log.find("] P2P[main.cpp:"), std::string::npos);

  // Stray stops never take the count below 0: the next start starts.
  lib().p2p_uninitialize();
  lib().p2p_uninitialize();
  start(ini);
  EXPECT_EQ(settled_thread_count(), threads_running);
  EXPECT_EQ(lib().p2p_add_share(a.c_str(), 1000, fid_of(2).data()), P2P_SHARE_ADDED);  // rebuilt share list
  lib().p2p_uninitialize();
  EXPECT_EQ(settled_thread_count(), threads_running - library_threads);
}

TEST_F(SeedliftTest, AddShareResults) {
  start();
  const std::wstring a = media(L"a.wmv", 1000);
  const std::wstring b = media(L"b.wmv", 2000);
  // Best fit would turn this name into "a.wmv"; the wide name must be refused.
  const std::wstring best_fit = dir.file(L"\u0101.wmv");
  const std::wstring chinese = media(L"\u4e2d.wmv", 1000);
  const std::wstring missing = dir.file(L"missing.wmv");
  struct Row { const char* name; const wchar_t* path; uint64_t size; std::vector<uint8_t> fid; int result; };
  const Row rows[] = {
      {"new share", a.c_str(), 1000, fid_of(1), P2P_SHARE_ADDED},
      {"same fid again, other path", b.c_str(), 2000, fid_of(1), P2P_SHARE_PRESENT},
      {"second bucket", b.c_str(), 2000, fid_of(2), P2P_SHARE_ADDED},
      {"size one byte off", a.c_str(), 1001, fid_of(3), P2P_SHARE_UNREADABLE},
      {"missing file", missing.c_str(), 5, fid_of(4), P2P_SHARE_UNREADABLE},
      {"size 0", a.c_str(), 0, fid_of(5), P2P_SHARE_BAD_ARGUMENT},
      {"null path", nullptr, 1000, fid_of(6), P2P_SHARE_BAD_ARGUMENT},
      {"no exact ANSI name (best fit)", best_fit.c_str(), 1000, fid_of(7), P2P_SHARE_UNREADABLE},
      {"no ANSI name", chinese.c_str(), 1000, fid_of(8), P2P_SHARE_UNREADABLE},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(lib().p2p_add_share(r.path, r.size, r.fid.data()), r.result);
  }
  EXPECT_EQ(lib().p2p_add_share(a.c_str(), 1000, nullptr), P2P_SHARE_BAD_ARGUMENT);
  EXPECT_EQ(lib().p2p_get_share_count(), 2);

  // Switched off: 3 before any other check.
  EXPECT_EQ(lib().set_p2p_allow_add_share(0), 0);
  EXPECT_EQ(lib().p2p_add_share(a.c_str(), 1000, fid_of(9).data()), P2P_SHARE_ADD_OFF);
  EXPECT_EQ(lib().p2p_add_share(nullptr, 0, nullptr), P2P_SHARE_ADD_OFF);
  lib().set_p2p_allow_add_share(1);

  lib().p2p_delete_share_byfid(nullptr, 16, 0);
  lib().p2p_delete_share_byfid(fid_of(1).data(), 16, 0);
  EXPECT_EQ(lib().p2p_get_share_count(), 1);
  lib().p2p_delete_share_byfid(fid_of(1).data(), 16, 0);  // unknown: nothing changes
  EXPECT_EQ(lib().p2p_get_share_count(), 1);
  EXPECT_EQ(GetFileAttributesW(a.c_str()) != INVALID_FILE_ATTRIBUTES, true);  // flag 0 keeps the file
  EXPECT_EQ(lib().p2p_pause_share_byfid(fid_of(2).data(), 16, 1), 1);
  EXPECT_EQ(lib().p2p_pause_share_byfid(fid_of(1).data(), 16, 1), 0);
  EXPECT_EQ(lib().p2p_pause_share_byfid(nullptr, 16, 1), 0);
  lib().p2p_uninitialize();
}

TEST_F(SeedliftTest, ShareListRows) {
  start();
  const std::wstring a = media(L"a.wmv", 1000);
  const std::wstring b = media(L"b.wmv", 3000);
  ASSERT_EQ(lib().p2p_add_share(a.c_str(), 1000, fid_of(1).data()), 0);
  ASSERT_EQ(lib().p2p_add_share(b.c_str(), 3000, fid_of(2).data()), 0);
  EXPECT_EQ(lib().p2p_get_share_filelist(nullptr, 10), 2);
  share_file_info rows[3];
  EXPECT_EQ(lib().p2p_get_share_filelist(rows, 0), 2);
  std::memset(rows, 0xCC, sizeof rows);
  EXPECT_EQ(lib().p2p_get_share_filelist(rows, 1), 1);
  const uint8_t* after = reinterpret_cast<const uint8_t*>(&rows[1]);
  for (size_t i = 0; i < sizeof(share_file_info); ++i) ASSERT_EQ(after[i], 0xCC) << "wrote past the maximum at " << i;
  std::memset(rows, 0xCC, sizeof rows);
  ASSERT_EQ(lib().p2p_get_share_filelist(rows, 3), 2);
  // Rows come in fid order; fid_of(1) sorts first.
  struct Row { std::vector<uint8_t> fid; std::wstring path; uint64_t size; };
  const Row want[] = {{fid_of(1), a, 1000}, {fid_of(2), b, 3000}};
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::memcmp(rows[i].fid, want[i].fid.data(), 16), 0);
    EXPECT_EQ(std::string(rows[i].path), seedlift_test::narrow(want[i].path));
    EXPECT_EQ(uint64_t(rows[i].size), want[i].size);
    EXPECT_EQ(rows[i].zero1, 0);
    EXPECT_EQ(uint32_t(rows[i].handshakes), 0u);
    EXPECT_EQ(uint32_t(rows[i].requests), 0u);
    EXPECT_EQ(uint64_t(rows[i].uploaded), 0u);
    EXPECT_EQ(uint32_t(rows[i].rate), 0u);
    EXPECT_EQ(uint32_t(rows[i].zero2), 0u);
  }
  upload_user_info users[2];
  EXPECT_EQ(lib().p2p_get_uplist(users, 2), 0);
  EXPECT_EQ(lib().p2p_get_uplist(nullptr, 2), 0);
  lib().p2p_uninitialize();
}

TEST_F(SeedliftTest, StatisticsAndIdentity) {
  start();
  Sleep(1200);  // at least one roll
  p2p_stat_totals totals;
  p2p_stat_info info;
  std::memset(&totals, 0xCC, sizeof totals);
  std::memset(&info, 0xCC, sizeof info);
  EXPECT_EQ(lib().p2p_get_statinfo(&totals, &info), 1);
  EXPECT_EQ(uint64_t(totals.uploaded_total), 0u);
  EXPECT_EQ(uint32_t(totals.uploaded_last_second), 0u);
  EXPECT_EQ(uint64_t(info.cache_hits), 0u);
  EXPECT_EQ(int32_t(info.hit_percent), 0);
  EXPECT_EQ(uint32_t(info.zero), 0u);
  EXPECT_EQ(lib().p2p_get_statinfo(nullptr, nullptr), 1);
  uint8_t last[104], running[104], udp[1024], tcp[1024], reads[72];
  EXPECT_EQ(lib().p2p_get_netinfo(last, running, udp, tcp, reads), 1);
  uint32_t online, limit;
  std::memcpy(&online, reads + 8, 4);
  EXPECT_EQ(online, 0u);  // never logged in
  std::memcpy(&limit, reads + 12, 4);
  EXPECT_EQ(limit, 0x40000000u);  // the upload limit in bytes: the default until one is set
  lib().set_p2p_upload_speed_max(300);
  EXPECT_EQ(lib().p2p_get_netinfo(nullptr, nullptr, nullptr, nullptr, reads), 1);
  std::memcpy(&limit, reads + 12, 4);
  EXPECT_EQ(limit, 300u << 10);
  EXPECT_EQ(lib().p2p_get_netinfo(nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  uint8_t nat_type = 0xEE;
  int probes = -1, answered = -1;
  EXPECT_EQ(lib().p2p_get_nat_stat(&nat_type, &probes, &answered), 0);  // no NAT test without a login
  EXPECT_EQ(nat_type, 0);
  EXPECT_EQ(probes, 0);
  EXPECT_EQ(answered, 0);

  uint64_t machine = 1, user = 1;
  int nat_class = 7, nat_detail = 7, pub_port = 7, lan_port = 7;
  uint32_t pub_ip = 7, lan_ip = 7;
  EXPECT_EQ(lib().get_p2p_id(&machine, &user, &nat_class, &nat_detail, &pub_ip, &pub_port, &lan_ip, &lan_port), 0);
  EXPECT_EQ(nat_class, 0);
  EXPECT_EQ(pub_ip, 0u);
  EXPECT_EQ(lib().get_p2p_id(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
  lib().p2p_uninitialize();
}

TEST_F(SeedliftTest, SettingsFileBeforeAndAfter) {
  struct Case { const char* name; std::string ini; const char* user_id; bool log; };
  const Case cases[] = {
      {"stored id above 2^63 is written back unsigned",
       "[OthersSet]\r\nDebug=7\r\n[AdvanceSet]\r\nUserID=18446744073709551615\r\n", "UserID=18446744073709551615",
       false},
      {"no settings file: Debug 9 opens the log", "", "UserID=0", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scratch_dir here;
    lib().set_p2p_app_path(here.path().c_str());
    if (!c.ini.empty()) here.write_text(L"P2PCfg.ini", c.ini);
    const uint16_t port = free_udp_port();
    ASSERT_EQ(lib().p2p_initialize_network(port), 1);
    ASSERT_EQ(lib().p2p_initialize(), 1);
    Sleep(200);  // the scheduler writes the network facts when it starts
    lib().p2p_uninitialize();
    const std::string after = here.read_text(L"P2PCfg.ini");
    EXPECT_NE(after.find("[Netcard]"), std::string::npos);
    EXPECT_NE(after.find("lan_port=" + std::to_string(port)), std::string::npos);
    EXPECT_NE(after.find("wan_ip=0.0.0.0"), std::string::npos);
    EXPECT_NE(after.find(c.user_id), std::string::npos);
    EXPECT_EQ(GetFileAttributesW(here.file(L"log\\p2pbase.log").c_str()) != INVALID_FILE_ATTRIBUTES, c.log);
  }
  lib().set_p2p_app_path(dir.path().c_str());
}

TEST_F(SeedliftTest, PortInUseFailsAndAnotherWorks) {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  EXPECT_EQ(lib().p2p_initialize_network(ntohs(a.sin_port)), 0);
  closesocket(s);
  EXPECT_EQ(lib().p2p_initialize_network(free_udp_port()), 1);
  EXPECT_EQ(lib().p2p_initialize_network(free_udp_port()), 1);  // moving to a new port
}

TEST_F(SeedliftTest, LongTextsAreCutNotOverrun) {
  const std::string host(5000, 'h');
  lib().set_p2p_server_host(host.c_str(), 0);
  lib().set_p2p_server_host(nullptr, 9000);
  const std::wstring long_name(3000, L'n');
  lib().set_p2p_ini_filename(long_name.c_str());
  lib().set_p2p_ini_filename(nullptr);
  const std::wstring long_dir = dir.path() + std::wstring(1000, L'd');
  lib().set_p2p_app_path(long_dir.c_str());
  lib().set_p2p_app_path(nullptr);
  lib().set_p2p_app_path(dir.path().c_str());
  lib().set_p2p_ini_filename(L"P2PCfg.ini");
  start();
  EXPECT_EQ(lib().p2p_get_share_count(), 0);
  lib().p2p_uninitialize();
}

TEST_F(SeedliftTest, TaskArgumentsAreChecked) {
  p2p_task_info info = {};
  void* handle = nullptr;
  EXPECT_EQ(lib().create_p2p_task(nullptr, &info), 0);
  EXPECT_EQ(lib().create_p2p_task(&handle, nullptr), 0);
  info.record_size = 47;
  info.hash[0] = 1;
  EXPECT_EQ(lib().create_p2p_task(&handle, &info), 0);
  info.record_size = 48;
  info.hash[0] = 0;
  EXPECT_EQ(lib().create_p2p_task(&handle, &info), 0);  // all-zero hash
  info.hash[3] = 9;
  start();
  EXPECT_EQ(lib().create_p2p_task(&handle, &info), 1);
  EXPECT_NE(handle, nullptr);
  EXPECT_EQ(lib().delete_p2p_task(handle), 1);
  EXPECT_EQ(lib().delete_p2p_task(nullptr), 0);
  lib().p2p_uninitialize();
}

// Share-list files are read at start; these run in a process of their own,
// as LocalShareList stays set once a start has read it.
class ShareListFiles : public SeedliftTest {
 protected:
  p2p::share_list_record record(const std::wstring& path, uint64_t size, uint8_t fid_seed) {
    auto fid = fid_of(fid_seed);
    auto r = p2p_test::make_record(size, 0, seedlift_test::narrow(path));
    std::memcpy(r.fid, fid.data(), 16);
    return r;
  }
};

TEST_F(ShareListFiles, BothFilesFirstOneWins) {
  const std::wstring a = media(L"a.wmv", 1000), b = media(L"b.wmv", 2000), c = media(L"c.wmv", 3000);
  dir.write(L"vxsecushr.dat", p2p_test::write_share_list({record(a, 1000, 1)}));
  dir.write(L"vxpup.dat", p2p_test::write_share_list({record(b, 2000, 1),   // same fid as in vxsecushr.dat
                                                      record(c, 3000, 2),
                                                      record(c, 3000, 3),   // same path
                                                      record(a, 999, 4)}));  // same path, and wrong size
  start("[OthersSet]\r\nDebug=8\r\nLocalShareList=0\r\n");
  share_file_info rows[4];
  ASSERT_EQ(lib().p2p_get_share_filelist(rows, 4), 2);
  EXPECT_EQ(std::string(rows[0].path), seedlift_test::narrow(a));
  EXPECT_EQ(std::string(rows[1].path), seedlift_test::narrow(c));
  lib().p2p_uninitialize();
}

TEST_F(ShareListFiles, DamagedFilesAndTheLimit) {
  const std::wstring a = media(L"a.wmv", 1000), b = media(L"b.wmv", 2000), c = media(L"c.wmv", 3000);
  auto good = p2p_test::write_share_list({record(a, 1000, 1), record(b, 2000, 2), record(c, 3000, 3)});
  auto flipped = good;
  flipped[40] ^= 0x10;
  auto short_file = std::vector<uint8_t>(good.begin(), good.begin() + 12 + 100);
  struct Case { const char* name; std::vector<uint8_t> bytes; uint32_t limit; int shares; std::string log; };
  const Case cases[] = {
      {"valid", good, 100000, 3, "load_share[new patten]"},
      {"flipped byte", flipped, 100000, 0, "\xCE\xC4\xBC\xFE\xD0\xA3\xD1\xE9\xB4\xED\xCE\xF3"},  // GBK
      {"short file", short_file, 100000, 0, "\xCE\xC4\xBC\xFE\xB4\xF3\xD0\xA1\xB4\xED\xCE\xF3"},
      {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 12), 100000, 0, "\xCE\xDE\xCA\xFD\xBE\xDD"},
      {"over the limit keeps the largest", good, 2, 2, ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    dir.write(L"vxpup.dat", k.bytes);
    lib().set_share_files_limit(k.limit);
    start();
    EXPECT_EQ(lib().p2p_get_share_count(), k.shares);
    if (k.limit == 2) {
      share_file_info rows[2];
      ASSERT_EQ(lib().p2p_get_share_filelist(rows, 2), 2);
      EXPECT_EQ(uint64_t(rows[0].size) + uint64_t(rows[1].size), 5000u);  // 3000 and 2000
    }
    lib().p2p_uninitialize();
    if (!k.log.empty()) {
      EXPECT_NE(dir.read_text(L"log\\p2pbase.log").find(k.log), std::string::npos);
    }
  }
  lib().set_share_files_limit(100000);
}

// Temp mode is never undone in a process: its own process too.
TEST_F(SeedliftTest, TempModeWritesNothing) {
  const std::string ini = "[OthersSet]\r\nDebug=7\r\n[AdvanceSet]\r\nUserID=42\r\n";
  dir.write_text(L"P2PCfg.ini", ini);
  lib().set_p2p_temp_mode();
  ASSERT_EQ(lib().p2p_initialize_network(free_udp_port()), 1);
  start("");
  Sleep(200);
  lib().p2p_uninitialize();
  EXPECT_EQ(dir.read_text(L"P2PCfg.ini"), ini);
}

}  // namespace
