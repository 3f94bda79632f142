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

namespace {

// A listening socket on loopback and the peers that connect to it.
struct listener {
  SOCKET s;
  uint16_t port = 0;
  std::vector<SOCKET> clients;
  listener() {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(s, 10);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
  }
  ~listener() {
    for (SOCKET c : clients) closesocket(c);
    closesocket(s);
  }
  // n peers connect, a few at a time, and the manager takes them.
  void connect_and_accept(p2p::online_user_manager& m, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      SOCKET c = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
      sockaddr_in a = {};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(port);
      EXPECT_EQ(connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
      clients.push_back(c);
      if (i % 4 == 3 || i + 1 == n) {
        Sleep(5);
        m.accept_from(s);
      }
    }
  }
  // Peers whose connection the manager closed.
  size_t closed_by_core() {
    size_t n = 0;
    for (SOCKET c : clients) {
      u_long on = 1;
      ioctlsocket(c, FIONBIO, &on);
      char byte;
      const int got = recv(c, &byte, 1, 0);
      n += got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
    }
    return n;
  }
};

}  // namespace

// At most 160 users online; a connection beyond them is accepted and closed at
// once; users that went offline hold no place.
TEST_F(OnlineUsers, AtMost160OnlineTheRestClosedAtOnce) {
  p2p::online_user_manager m;
  listener l;
  l.connect_and_accept(m, 165);
  EXPECT_EQ(m.online_count(), p2p::kMaxOnlineUsers);
  EXPECT_TRUE(m.at_user_limit());
  Sleep(50);
  EXPECT_EQ(l.closed_by_core(), 5u);
  // Ten users fail: on the offline list, without a place.
  SOCKET users[p2p::kMaxTcpSockets];
  const size_t n = m.collect_sockets(users, p2p::kMaxTcpSockets);
  ASSERT_EQ(n, p2p::kMaxOnlineUsers);
  for (size_t i = 0; i < 10; ++i) m.on_io_error(users[i]);
  EXPECT_EQ(m.offline_count(), 10u);
  l.connect_and_accept(m, 12);
  EXPECT_EQ(m.online_count(), p2p::kMaxOnlineUsers);
  Sleep(50);
  EXPECT_EQ(l.closed_by_core(), 5u + 10 + 2);  // the ten failed users' too
  m.close_all();
}
