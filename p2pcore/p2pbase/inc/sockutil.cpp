// TCP connect and send helpers.
#include "p2pcore/p2pbase/inc/sockutil.h"

namespace p2p {

long long tcp_connect(SOCKET s, uint32_t address, uint16_t port) {
  const bool created = s == INVALID_SOCKET;
  if (created) s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -static_cast<long long>(WSAGetLastError());
  auto fail = [&](long long code) {
    if (created) closesocket(s);
    return code;
  };
  u_long nonblocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonblocking) != 0) return fail(-static_cast<long long>(WSAGetLastError()));
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) return static_cast<long long>(s);
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return fail(-static_cast<long long>(error));
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval wait = {2, 0};
  const int ready = select(0, nullptr, &writable, &failed, &wait);
  if (ready == 0) return fail(-1);
  if (ready < 0) return fail(-2);
  int so_error = 0;
  int len = sizeof so_error;
  getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&so_error), &len);
  if (so_error != 0 || !FD_ISSET(s, &writable)) return fail(-static_cast<long long>(so_error ? so_error : WSAECONNREFUSED));
  return static_cast<long long>(s);
}

int send_when_writable(SOCKET s, const void* bytes, int n) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(s, &writable);
  timeval wait = {0, 100000000};
  if (select(0, nullptr, &writable, nullptr, &wait) <= 0) return -1;
  const int sent = send(s, static_cast<const char*>(bytes), n, 0);
  return sent == n ? n : -1;
}

}  // namespace p2p
