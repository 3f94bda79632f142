// The channel's socket operations: IPv4 TCP, non-blocking sockets, deadlines
// in milliseconds. Results follow the channel's convention: a socket (> 0) or
// a negative code; byte counts, 0 on time-out, -1 on error.
#pragma once
#include <winsock2.h>

#include <cstdint>

// The select sets of the channel hold at most this many sockets.
constexpr u_int kChannelSelectLimit = 64;
static_assert(FD_SETSIZE >= kChannelSelectLimit, "fd_set too small for the channel's select");

// SO_REUSEADDR, bind to inet_addr(address):port, listen (backlog 10),
// non-blocking. The socket, or -1 (the socket is closed on any failure).
intptr_t TcpListenOn(const char* address, uint32_t port);
// A non-blocking accepted socket, or -1.
intptr_t TcpAccept(SOCKET listener);
// Connects within 500 ms to address (network order, as inet_addr gives it).
// The non-blocking socket, or -WSA error of connect, -1 time-out, -2 select
// error, -3 connect refused or failed. The socket is closed on every failure.
intptr_t TcpConnectTimeout(uint32_t address, uint16_t port);
// > 0 ready, 0 time-out, -1 error.
int TcpWaitReadable(SOCKET s, int32_t ms);
int TcpWaitWritable(SOCKET s, int32_t ms);
// Move exactly n bytes within ms from the call: n, the count moved so far on
// time-out or when the peer closed, -1 on error.
int64_t TcpRecvExact(SOCKET s, void* buf, uint32_t n, int32_t ms);
// Receives at least atLeast and at most upTo bytes within ms; the count, or
// -1 on error. waitFirst: wait for readability before the first recv.
int64_t TcpRecvAtLeast(SOCKET s, void* buf, uint32_t atLeast, uint32_t upTo, int32_t ms, bool waitFirst);
int64_t TcpSendExact(SOCKET s, const void* buf, uint32_t n, int32_t ms);
// One recv of up to upTo bytes without waiting: the count, 0 when the peer
// closed, kTcpNothingYet when no byte is there, -1 on error.
constexpr int64_t kTcpNothingYet = -2;
int64_t TcpRecvNow(SOCKET s, void* buf, uint32_t upTo);
// Waits at most ms for the first bytes to arrive and receives up to upTo of
// them, in one overlapped receive: under Wine a select followed by a recv
// costs far more than the one call. event: an auto-reset event of the
// caller's, used by one call at a time. The count (0 when the peer closed),
// 0 on time-out, -1 on error.
int64_t TcpRecvFirst(SOCKET s, void* buf, uint32_t upTo, int32_t ms, HANDLE event);
// Sends the buffers in one attempt without waiting: the bytes sent, 0 when
// the socket would block, -1 on error.
int64_t TcpSendGatherOnce(SOCKET s, WSABUF* buffers, DWORD count);
// The channel's frames are written in small pieces (total, checksum, body);
// without this the second piece waits for the peer's delayed acknowledgement.
void TcpNoDelay(SOCKET s);
