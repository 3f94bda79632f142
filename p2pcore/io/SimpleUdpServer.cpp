// The UDP socket of the upload core.
#include "p2pcore/io/SimpleUdpServer.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/p2pbase/inc/p2plog.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace p2p {

CSimpleUdpServer::CSimpleUdpServer() {
  WSADATA data;
  int r = WSAStartup(MAKEWORD(2, 2), &data);
  if (r != 0) P2P_LOG(4, "X_SockInit() : %d", r);
}

CSimpleUdpServer::~CSimpleUdpServer() {
  close();
  WSACleanup();
}

void CSimpleUdpServer::close() {
  if (event_) {
    if (socket_ != INVALID_SOCKET) WSAEventSelect(socket_, nullptr, 0);
    CloseHandle(event_);
    event_ = nullptr;
  }
  if (socket_ != INVALID_SOCKET) {
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
}

bool CSimpleUdpServer::bind_port(uint16_t port) {
  close();
  port_ = port;
  socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (socket_ == INVALID_SOCKET) {
    P2P_LOG(4, "create socket failed, error_code: %d\r\n", WSAGetLastError());
    return false;
  }
  // An ICMP port-unreachable must not fail later receives.
  BOOL report = FALSE;
  DWORD returned = 0;
  WSAIoctl(socket_, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  uint32_t host = 0;
  const std::string bind_host = settings().bind_host;
  addr.sin_addr.s_addr = (!bind_host.empty() && parse_ipv4(bind_host, &host)) ? htonl(host) : INADDR_ANY;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    const int error = WSAGetLastError();
    if (error != WSAEADDRINUSE) P2P_LOG(4, "CSimpleUdpServer::InitializeIocpEx  Bind(%d) failed, error_code:%d \r\n", port, error);
    closesocket(socket_);
    socket_ = INVALID_SOCKET;
    return false;
  }
  int size = 0xA00000;
  setsockopt(socket_, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
  setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
  return true;
}

}  // namespace p2p
