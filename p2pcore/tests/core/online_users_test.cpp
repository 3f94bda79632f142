// The online TCP users' sweeps on an injected clock: users that never sent
// anything are timed out 10 s after their login only while more than 120 are
// online, at most every 5 s; offline users are freed 5 s after their last
// activity at the earliest.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "p2pcore/ke/onlineuser.h"
#include "p2pcore/ke/onlineusermanager.h"

namespace {

constexpr uint64_t kT0 = 1700000000;
uint64_t g_now = kT0;
uint64_t test_clock() { return g_now; }

class OnlineUsers : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    g_now = kT0;
    p2p::set_online_clock(test_clock);
  }
  void TearDown() override {
    p2p::set_online_clock(nullptr);
    WSACleanup();
  }
  // Users on real sockets (the manager closes them), logged in now.
  std::vector<SOCKET> add(p2p::online_user_manager& m, size_t n) {
    std::vector<SOCKET> out;
    for (size_t i = 0; i < n; ++i) {
      SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      EXPECT_EQ(m.add_user(s), 0);
      out.push_back(s);
    }
    return out;
  }
};

}  // namespace

TEST_F(OnlineUsers, IdleUsersAreSweptOnlyAboveOneHundredTwenty) {
  struct Row {
    const char* name;
    size_t users;
    std::vector<std::pair<uint64_t, size_t>> sweeps;  // seconds after login, users online after the sweep
  };
  const Row rows[] = {
      {"121 users: kept 10 s after login, gone once past it", 121, {{10, 121}, {15, 0}}},
      {"a sweep runs at most every 5 s", 121, {{10, 121}, {11, 121}, {14, 121}, {15, 0}}},
      {"120 users are never swept", 120, {{10, 120}, {30, 120}, {3600, 120}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    p2p::online_user_manager m;
    g_now = kT0;
    add(m, r.users);
    for (const auto& [at, online] : r.sweeps) {
      g_now = kT0 + at;
      m.sweep_online();
      EXPECT_EQ(m.online_count(), online) << "at " << at << " s";
    }
  }
}

TEST_F(OnlineUsers, OfflineUsersAreFreedFiveSecondsAfterTheirLastActivity) {
  p2p::online_user_manager m;
  const std::vector<SOCKET> s = add(m, 2);
  m.on_io_error(s[0]);
  EXPECT_EQ(m.online_count(), 1u);
  EXPECT_EQ(m.offline_count(), 1u);
  std::shared_ptr<p2p::online_user> held = m.find_user(s[1]);
  m.on_io_error(s[1]);  // a read of a worker still holds this one
  struct Row {
    uint64_t at;
    size_t offline;
  };
  for (Row r : {Row{5, 2}, Row{6, 1}, Row{30, 1}}) {
    SCOPED_TRACE(r.at);
    g_now = kT0 + r.at;
    m.sweep_offline();
    EXPECT_EQ(m.offline_count(), r.offline);
  }
  held.reset();
  g_now = kT0 + 31;
  m.sweep_offline();
  EXPECT_EQ(m.offline_count(), 0u);
  EXPECT_EQ(m.pool_count(), 2u);  // their objects wait for the next connections
}
