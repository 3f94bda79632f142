// Blocking-socket helpers for the channel tests: a raw peer that writes and
// reads frames byte by byte, so tests can send what the real sessions never would.
#pragma once
#include <winsock2.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "foundation/codec/channel_frame.h"

// Started once per test program.
inline void StartWinsock() {
  static const bool started = [] {
    WSADATA wsa;
    return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
  }();
  (void)started;
}

inline void SetRecvTimeout(SOCKET s, DWORD ms) {
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&ms), sizeof ms);
}

inline sockaddr_in Loopback(uint16_t port) {
  sockaddr_in sa = {};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sa.sin_port = htons(port);
  return sa;
}

inline SOCKET RawConnect(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in sa = Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

inline SOCKET RawListen(uint16_t port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in sa = Loopback(port);
  if (bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(s, 16) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

// Accepts within ms, or INVALID_SOCKET.
inline SOCKET RawAccept(SOCKET listener, long ms) {
  fd_set set;
  set.fd_count = 1;
  set.fd_array[0] = listener;
  timeval tv = {ms / 1000, (ms % 1000) * 1000};
  if (select(0, &set, nullptr, nullptr, &tv) != 1) return INVALID_SOCKET;
  return accept(listener, nullptr, nullptr);
}

inline bool SendAll(SOCKET s, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const int r = send(s, p, int(n), 0);
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

// Receives exactly n bytes; false on time-out, error or close.
inline bool RecvAll(SOCKET s, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const int r = recv(s, p, int(n), 0);
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

inline std::vector<uint8_t> U32(uint32_t v) {
  std::vector<uint8_t> b(4);
  ChannelStoreU32(b.data(), v);
  return b;
}

// A whole frame for body; checksumDelta spoils the checksum when not 0.
inline std::vector<uint8_t> Frame(std::vector<uint8_t> body, uint32_t checksumDelta = 0) {
  IpcBuildMask();
  const uint32_t checksum = IpcEncodeBody(body.data(), uint32_t(body.size())) + checksumDelta;
  std::vector<uint8_t> frame = U32(uint32_t(body.size()) + 4);
  const std::vector<uint8_t> c = U32(checksum);
  frame.insert(frame.end(), c.begin(), c.end());
  frame.insert(frame.end(), body.begin(), body.end());
  return frame;
}

// Reads one frame and returns its plain body; nothing on time-out, close or a
// checksum that does not match.
inline std::optional<std::vector<uint8_t>> RecvFrame(SOCKET s, DWORD ms) {
  SetRecvTimeout(s, ms);
  uint8_t head[8];
  if (!RecvAll(s, head, 8)) return std::nullopt;
  const uint32_t total = ChannelLoadU32(head);
  if (total < 4) return std::nullopt;
  std::vector<uint8_t> body(total - 4);
  if (!RecvAll(s, body.data(), body.size())) return std::nullopt;
  if (!IpcDecodeBody(body.data(), uint32_t(body.size()), ChannelLoadU32(head + 4))) return std::nullopt;
  return body;
}

// True when the peer closed s (or reset it) within ms.
inline bool PeerClosed(SOCKET s, DWORD ms) {
  SetRecvTimeout(s, ms);
  char c;
  const int r = recv(s, &c, 1, 0);
  return r == 0 || (r < 0 && WSAGetLastError() != WSAETIMEDOUT);
}
