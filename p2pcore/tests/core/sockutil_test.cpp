// The TCP helpers over loopback: a connect that succeeds, one that is
// refused, and a send that waits for the socket.
#include <gtest/gtest.h>

#include "p2pcore/p2pbase/inc/sockutil.h"

namespace {

TEST(SockUtil, ConnectAndSend) {
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  int len = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  const uint16_t port = ntohs(a.sin_port);

  long long s = p2p::tcp_connect(INVALID_SOCKET, htonl(INADDR_LOOPBACK), port);
  ASSERT_GE(s, 0);
  SOCKET peer = accept(listener, nullptr, nullptr);
  ASSERT_NE(peer, INVALID_SOCKET);
  EXPECT_EQ(p2p::send_when_writable(SOCKET(s), "hello", 5), 5);
  char got[8] = {};
  u_long blocking = 0;
  ioctlsocket(peer, FIONBIO, &blocking);
  EXPECT_EQ(recv(peer, got, sizeof got, 0), 5);
  EXPECT_STREQ(got, "hello");
  closesocket(SOCKET(s));
  closesocket(peer);
  closesocket(listener);

  // Nobody listens there any more.
  long long refused = p2p::tcp_connect(INVALID_SOCKET, htonl(INADDR_LOOPBACK), port);
  EXPECT_LT(refused, 0);
}

}  // namespace
