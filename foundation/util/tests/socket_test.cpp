// CTcpSocket over loopback and host-name resolution.
#include <gtest/gtest.h>

#include <ws2tcpip.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/util/net_address.h"
#include "foundation/util/tcp_socket.h"

namespace {

const uint32_t kLoopback = htonl(INADDR_LOOPBACK);

class SocketTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartWinsock(), 0);
    ASSERT_TRUE(listener_.Create());
    ASSERT_EQ(listener_.Bind(kLoopback, 0), 0);
    ASSERT_EQ(listener_.Listen(4), 0);
    port_ = static_cast<uint16_t>(listener_.LocalPort());
    ASSERT_GT(port_, 0);
  }
  void TearDown() override {
    listener_.Close();
    WSACleanup();
  }
  // A connected pair: client and the accepted server end.
  void Connect(CTcpSocket* client, CTcpSocket* server) {
    ASSERT_TRUE(client->Create());
    ASSERT_EQ(client->ConnectTimeout(2000, kLoopback, port_), 0);
    ASSERT_EQ(listener_.AcceptTimeout(2000, server), 0);
  }

  CTcpSocket listener_;
  uint16_t port_ = 0;
};

}  // namespace

TEST_F(SocketTest, WithoutASocketEverythingFails) {
  CTcpSocket s;
  char buf[4];
  EXPECT_FALSE(s.IsValid());
  EXPECT_EQ(s.SendAll(100, "abc", 3), kSocketError);
  EXPECT_EQ(s.Recv(100, buf, 4), kSocketError);
  EXPECT_EQ(s.ConnectTimeout(100, kLoopback, port_), kSocketError);
  EXPECT_EQ(s.LocalPort(), kSocketError);
}

TEST_F(SocketTest, SendAllDeliversEverythingAcrossManySends) {
  CTcpSocket client, server;
  Connect(&client, &server);
  std::vector<char> data(8 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  std::vector<char> got;
  std::thread reader([&] {
    std::vector<char> buf(65536);
    while (got.size() < data.size()) {
      const int n = server.Recv(5000, buf.data(), static_cast<int>(buf.size()));
      if (n <= 0) break;
      got.insert(got.end(), buf.begin(), buf.begin() + n);
    }
  });
  EXPECT_EQ(client.SendAll(20000, data.data(), static_cast<int>(data.size())), static_cast<int>(data.size()));
  reader.join();
  EXPECT_TRUE(got == data);
}

TEST_F(SocketTest, SendAllToAStalledPeerTimesOutWithAFixedCode) {
  CTcpSocket client, server;
  Connect(&client, &server);
  int small = 8192;
  setsockopt(client.Handle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small);
  std::vector<char> data(64 << 20, 'x');
  const DWORD start = GetTickCount();
  EXPECT_EQ(client.SendAll(300, data.data(), static_cast<int>(data.size())), kSocketTimeout);
  EXPECT_LT(GetTickCount() - start, 10000u);
}

TEST_F(SocketTest, SendAllToAClosedPeerFails) {
  CTcpSocket client, server;
  Connect(&client, &server);
  server.Close();
  std::vector<char> data(1 << 20, 'y');
  int result = 0;
  // The reset may take a send or two to arrive.
  for (int i = 0; i < 20 && result >= 0; ++i) {
    result = client.SendAll(1000, data.data(), static_cast<int>(data.size()));
  }
  EXPECT_LT(result, 0);
}

TEST_F(SocketTest, RecvTimesOutThenGetsDataThenClose) {
  CTcpSocket client, server;
  Connect(&client, &server);
  char buf[16];
  EXPECT_EQ(server.Recv(50, buf, sizeof buf), kSocketTimeout);
  EXPECT_EQ(client.SendAll(1000, "hello", 5), 5);
  EXPECT_EQ(server.Recv(2000, buf, sizeof buf), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  client.Close();
  EXPECT_EQ(server.Recv(2000, buf, sizeof buf), 0) << "peer closed";
}

TEST_F(SocketTest, CancelEventEndsAWaitAtOnce) {
  struct Row {
    const char* name;
    bool send;
  } rows[] = {{"receive from a silent peer", false}, {"send to a stalled peer", true}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CTcpSocket client, server;
    Connect(&client, &server);
    int small = 8192;
    setsockopt(client.Handle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small);
    HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    client.SetCancelEvent(cancel);
    // Filled before the clock starts: on a loaded machine 64 MiB take a while.
    std::vector<char> data(64 << 20, 'z');
    const DWORD start = GetTickCount();
    std::thread later([cancel] {
      Sleep(200);
      SetEvent(cancel);
    });
    const int result = r.send ? client.SendAll(30000, data.data(), static_cast<int>(data.size()))
                              : client.Recv(30000, data.data(), 16);
    const DWORD took = GetTickCount() - start;
    later.join();
    EXPECT_EQ(result, kSocketCancelled);
    EXPECT_GE(took, 150u);
    EXPECT_LT(took, 2000u);
    // Signalled before the call: nothing waits at all.
    EXPECT_EQ(client.Recv(30000, data.data(), 16), kSocketCancelled);
    client.SetCancelEvent(nullptr);
    EXPECT_EQ(client.Recv(50, data.data(), 16), kSocketTimeout);
    CloseHandle(cancel);
  }
}

TEST_F(SocketTest, ConnectToAClosedPortFailsBeforeTheDeadline) {
  CTcpSocket probe;
  ASSERT_TRUE(probe.Create());
  ASSERT_EQ(probe.Bind(kLoopback, 0), 0);
  const uint16_t closedPort = static_cast<uint16_t>(probe.LocalPort());
  probe.Close();
  CTcpSocket client;
  ASSERT_TRUE(client.Create());
  const DWORD start = GetTickCount();
  const int result = client.ConnectTimeout(5000, kLoopback, closedPort);
  EXPECT_LT(result, 0);
  EXPECT_NE(result, kSocketTimeout);
  EXPECT_LT(GetTickCount() - start, 4000u);
}

TEST_F(SocketTest, AcceptTimesOut) {
  CTcpSocket accepted;
  EXPECT_EQ(listener_.AcceptTimeout(50, &accepted), kSocketTimeout);
  EXPECT_FALSE(accepted.IsValid());
}

TEST_F(SocketTest, BindTakesAPortOutOfRangeAsAny) {
  CTcpSocket s;
  ASSERT_TRUE(s.Create());
  EXPECT_EQ(s.Bind(kLoopback, 70000), 0);
  EXPECT_GT(s.LocalPort(), 0);
  CTcpSocket t;
  ASSERT_TRUE(t.Create());
  EXPECT_LT(t.Bind(kLoopback, port_), 0) << "port in use";
}

TEST_F(SocketTest, ResolveHostAddress) {
  struct Row { const char* name; const char* expected; };
  const Row rows[] = {
      {"10.1.2.3", "10.1.2.3"},
      {"127.0.0.1", "127.0.0.1"},
      {"localhost", "127.0.0.1"},
      {"", nullptr},
      {"no-such-host.invalid", nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    uint32_t expected = 0;
    if (r.expected != nullptr) inet_pton(AF_INET, r.expected, &expected);
    EXPECT_EQ(ResolveHostAddress(r.name), expected);
  }
  std::vector<std::string> own;
  const int result = GetLocalHostAddresses(&own);
  EXPECT_EQ(result, own.empty() ? 1 : 0);
}
