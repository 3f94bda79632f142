// TCP helpers of the upload core: a connect bounded to two seconds and a send
// that waits for the socket to take data.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

namespace p2p {

// Non-blocking connect of the given socket (or a new one for INVALID_SOCKET)
// to address (network order) and port. The socket when connected; else the
// negated socket error, -1 for a time-out of 2 s, -2 for a failed select. A
// socket this call created is closed on failure.
long long tcp_connect(SOCKET s, uint32_t address, uint16_t port);

// Waits until the socket is writable, then one send: n when all went, else -1.
int send_when_writable(SOCKET s, const void* bytes, int n);

}  // namespace p2p
