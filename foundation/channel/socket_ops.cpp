// Socket operations of the control channel. A send, and a receive whose
// caller has already seen the socket readable, tries the socket first and
// waits only when it would block: on a ready socket that saves a select.
#include "foundation/channel/socket_ops.h"

#include <ws2tcpip.h>

namespace {

bool SetNonBlocking(SOCKET s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}

// select on s alone for at most ms; WSAEWOULDBLOCK from select is retried.
int WaitOne(SOCKET s, int32_t ms, bool forWrite) {
  if (ms < 0) ms = 0;
  for (;;) {
    fd_set set;
    set.fd_count = 1;
    set.fd_array[0] = s;
    timeval tv;
    tv.tv_sec = ms / 1000;
    tv.tv_usec = (ms % 1000) * 1000;
    const int r = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
    if (r == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
      return -1;
    }
    return r;
  }
}

// The loop shared by both directions: moves at least `atLeast` and at most
// `upTo` bytes. `step(at, len)` moves up to len bytes at offset at and returns
// what recv/send return. Without waitFirst the socket is tried before any wait.
template <typename Step>
int64_t Transfer(SOCKET s, uint32_t atLeast, uint32_t upTo, int32_t ms, bool forWrite, bool waitFirst, Step step) {
  ULONGLONG noted = GetTickCount64();
  if (waitFirst && atLeast > 0) {
    const int w = WaitOne(s, ms, forWrite);
    if (w <= 0) return w;
  }
  uint32_t done = 0;
  while (done < atLeast) {
    const uint32_t want = upTo - done;
    const int r = step(done, int(want > 0x40000000u ? 0x40000000u : want));
    if (r > 0) {
      done += uint32_t(r);
      continue;
    }
    if (r == 0 && !forWrite) return done;  // the peer closed
    if (r == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    // Would block: wait out what is left of the deadline.
    const ULONGLONG now = GetTickCount64();
    ms -= int32_t(now - noted);
    noted = now;
    if (ms <= 0) return done;
    const int w = WaitOne(s, ms, forWrite);
    if (w < 0) return -1;
    if (w == 0) return done;
  }
  return done;
}

}  // namespace

intptr_t TcpListenOn(const char* address, uint32_t port) {
  // inet_addr gives INADDR_NONE for text that is no address; never bind that.
  const unsigned long ip = inet_addr(address ? address : "");
  if (ip == INADDR_NONE) return -1;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -1;
  BOOL reuse = TRUE;
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = ip;
  sa.sin_port = htons(u_short(port));
  if (setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse) != 0 ||
      bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(s, 10) != 0 || !SetNonBlocking(s)) {
    closesocket(s);
    return -1;
  }
  return intptr_t(s);
}

intptr_t TcpAccept(SOCKET listener) {
  SOCKET s = accept(listener, nullptr, nullptr);
  if (s == INVALID_SOCKET) return -1;
  if (!SetNonBlocking(s)) {
    closesocket(s);
    return -1;
  }
  return intptr_t(s);
}

intptr_t TcpConnectTimeout(uint32_t address, uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return -int(WSAGetLastError());
  if (!SetNonBlocking(s)) {
    const int e = WSAGetLastError();
    closesocket(s);
    return -e;
  }
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = address;
  sa.sin_port = htons(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return intptr_t(s);
  const int e = WSAGetLastError();
  if (e != WSAEWOULDBLOCK) {
    closesocket(s);
    return -e;
  }
  // A refused or failed connect is reported in the except set; watching it
  // ends the wait at once instead of after the whole 500 ms.
  fd_set readSet, writeSet, exceptSet;
  readSet.fd_count = writeSet.fd_count = exceptSet.fd_count = 1;
  readSet.fd_array[0] = writeSet.fd_array[0] = exceptSet.fd_array[0] = s;
  timeval tv = {0, 500 * 1000};
  const int r = select(0, &readSet, &writeSet, &exceptSet, &tv);
  if (r <= 0) {
    closesocket(s);
    return r == 0 ? -1 : -2;
  }
  int soError = 0;
  int len = sizeof soError;
  if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0 || soError != 0 ||
      __WSAFDIsSet(s, &exceptSet)) {
    closesocket(s);
    return -3;
  }
  return intptr_t(s);
}

int TcpWaitReadable(SOCKET s, int32_t ms) { return WaitOne(s, ms, false); }
int TcpWaitWritable(SOCKET s, int32_t ms) { return WaitOne(s, ms, true); }

int64_t TcpRecvAtLeast(SOCKET s, void* buf, uint32_t atLeast, uint32_t upTo, int32_t ms, bool waitFirst) {
  char* p = static_cast<char*>(buf);
  return Transfer(s, atLeast, upTo, ms, false, waitFirst, [&](uint32_t at, int len) { return recv(s, p + at, len, 0); });
}

int64_t TcpRecvExact(SOCKET s, void* buf, uint32_t n, int32_t ms) { return TcpRecvAtLeast(s, buf, n, n, ms, true); }

int64_t TcpRecvNow(SOCKET s, void* buf, uint32_t upTo) {
  const int r = recv(s, static_cast<char*>(buf), int(upTo > 0x40000000u ? 0x40000000u : upTo), 0);
  if (r >= 0) return r;
  return WSAGetLastError() == WSAEWOULDBLOCK ? kTcpNothingYet : -1;
}

int64_t TcpSendExact(SOCKET s, const void* buf, uint32_t n, int32_t ms) {
  const char* p = static_cast<const char*>(buf);
  return Transfer(s, n, n, ms, true, false, [&](uint32_t at, int len) { return send(s, p + at, len, 0); });
}

int64_t TcpRecvFirst(SOCKET s, void* buf, uint32_t upTo, int32_t ms, HANDLE event) {
  if (upTo == 0) return 0;
  if (ms < 0) ms = 0;
  const ULONGLONG start = GetTickCount64();
  WSAOVERLAPPED ov = {};
  ov.hEvent = event;
  WSABUF wb = {upTo, static_cast<char*>(buf)};
  DWORD got = 0, flags = 0;
  if (WSARecv(s, &wb, 1, &got, &flags, &ov, nullptr) == 0) return got;
  const int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK) return TcpRecvAtLeast(s, buf, 1, upTo, ms, true);
  if (e != WSA_IO_PENDING) return -1;
  for (;;) {
    const ULONGLONG spent = GetTickCount64() - start;
    const DWORD left = spent >= ULONGLONG(ms) ? 0 : DWORD(ms - int32_t(spent));
    const DWORD w = WaitForSingleObject(event, left);
    if (WSAGetOverlappedResult(s, &ov, &got, FALSE, &flags)) return got;
    if (WSAGetLastError() != WSA_IO_INCOMPLETE) return -1;
    // A signal left over from an earlier call that completed at once: wait on.
    if (w == WAIT_OBJECT_0 && left > 0) continue;
    // Deadline: cancel, and keep whatever the receive got before it ended.
    CancelIoEx(reinterpret_cast<HANDLE>(s), &ov);
    if (WSAGetOverlappedResult(s, &ov, &got, TRUE, &flags)) return got;
    const int err = WSAGetLastError();
    if (err == WSA_OPERATION_ABORTED) {
      WSASetLastError(WSAETIMEDOUT);
      return 0;
    }
    return -1;
  }
}

int64_t TcpSendGatherOnce(SOCKET s, WSABUF* buffers, DWORD count) {
  DWORD sent = 0;
  if (WSASend(s, buffers, count, &sent, 0, nullptr, nullptr) == 0) return sent;
  return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
}

void TcpNoDelay(SOCKET s) {
  BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}
