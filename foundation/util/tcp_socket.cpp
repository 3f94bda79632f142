// CTcpSocket over Winsock with select-based deadlines.
#include "foundation/util/tcp_socket.h"

#include <ws2tcpip.h>

namespace {

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

timeval ToTimeval(uint32_t ms) {
  timeval tv;
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return tv;
}

}  // namespace

bool CTcpSocket::Create() {
  Close();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  if (!SetNonBlocking(s)) {
    closesocket(s);
    return false;
  }
  socket_ = s;
  return true;
}

void CTcpSocket::Close() {
  if (socket_ != 0) closesocket(socket_);
  socket_ = 0;
}

int CTcpSocket::Wait(uint32_t ms, bool forWrite) const {
  if (cancel_ == nullptr) return WaitOnce(ms, forWrite);
  // select cannot wait on an event, and WSAEventSelect's write events are
  // edge-triggered; short slices keep a cancel prompt with select's level view.
  constexpr uint32_t kSliceMs = 20;
  const ULONGLONG deadline = GetTickCount64() + ms;
  for (;;) {
    if (WaitForSingleObject(cancel_, 0) == WAIT_OBJECT_0) return kSocketCancelled;
    const ULONGLONG now = GetTickCount64();
    const uint32_t left = now >= deadline ? 0 : static_cast<uint32_t>(deadline - now);
    const int result = WaitOnce(left < kSliceMs ? left : kSliceMs, forWrite);
    if (result != kSocketTimeout || left <= kSliceMs) return result;
  }
}

int CTcpSocket::WaitOnce(uint32_t ms, bool forWrite) const {
  fd_set ready, failed;
  FD_ZERO(&ready);
  FD_ZERO(&failed);
  FD_SET(socket_, &ready);
  FD_SET(socket_, &failed);
  timeval tv = ToTimeval(ms);
  // A failed connect shows in the exception set, not the write set.
  const int n = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, &tv);
  if (n == SOCKET_ERROR) return kSocketError;
  if (n == 0) return kSocketTimeout;
  if (FD_ISSET(socket_, &failed) || !FD_ISSET(socket_, &ready)) return kSocketError;
  return 0;
}

int CTcpSocket::ConnectTimeout(uint32_t ms, uint32_t address, uint16_t port) {
  if (socket_ == 0) return kSocketError;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  to.sin_port = htons(port);
  if (connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return 0;
  const int error = WSAGetLastError();
  if (error != WSAEWOULDBLOCK) return -error;
  const int waited = Wait(ms, true);
  int soError = 0;
  int len = sizeof soError;
  if (getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) == 0 && soError != 0) {
    return -soError;
  }
  return waited;
}

int CTcpSocket::SendAll(uint32_t ms, const void* data, int n) {
  if (socket_ == 0 || n < 0 || (n > 0 && data == nullptr)) return kSocketError;
  const auto* bytes = static_cast<const char*>(data);
  const ULONGLONG deadline = GetTickCount64() + ms;
  int sent = 0;
  while (sent < n) {
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return kSocketTimeout;
    const int waited = Wait(static_cast<uint32_t>(deadline - now), true);
    if (waited != 0) return waited;
    const int put = send(socket_, bytes + sent, n - sent, 0);
    if (put == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
      return kSocketError;
    }
    sent += put;
  }
  return n;
}

int CTcpSocket::Recv(uint32_t ms, void* buffer, int size) {
  if (socket_ == 0 || size < 0) return kSocketError;
  int got = recv(socket_, static_cast<char*>(buffer), size, 0);
  if (got != SOCKET_ERROR) return got;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return kSocketError;
  const int waited = Wait(ms, false);
  if (waited != 0) return waited;
  got = recv(socket_, static_cast<char*>(buffer), size, 0);
  return got == SOCKET_ERROR ? kSocketError : got;
}

int CTcpSocket::Bind(uint32_t address, int port) {
  if (socket_ == 0) return kSocketError;
  if (port < 0 || port > 65534) port = 0;
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = address;
  at.sin_port = htons(static_cast<u_short>(port));
  return bind(socket_, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0 ? 0 : -WSAGetLastError();
}

int CTcpSocket::LocalPort() const {
  if (socket_ == 0) return kSocketError;
  sockaddr_in at{};
  int len = sizeof at;
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&at), &len) != 0) return -WSAGetLastError();
  return ntohs(at.sin_port);
}

int CTcpSocket::Listen(int backlog) {
  if (socket_ == 0) return kSocketError;
  return listen(socket_, backlog) == 0 ? 0 : -WSAGetLastError();
}

int CTcpSocket::AcceptTimeout(uint32_t ms, CTcpSocket* accepted) {
  if (socket_ == 0) return kSocketError;
  const int waited = Wait(ms, false);
  if (waited != 0) return waited;
  const SOCKET s = accept(socket_, nullptr, nullptr);
  if (s == INVALID_SOCKET) return -WSAGetLastError();
  SetNonBlocking(s);
  accepted->Close();
  accepted->socket_ = s;
  return 0;
}
