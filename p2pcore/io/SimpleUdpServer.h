// The upload core's UDP socket (CSimpleUdpServer): create, bind on a port at
// the BindHost address, close. The packet layer that sends and checks
// datagrams on it builds on this.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

namespace p2p {

class CSimpleUdpServer {
 public:
  CSimpleUdpServer();  // starts Winsock
  ~CSimpleUdpServer();  // closes, then ends Winsock
  CSimpleUdpServer(const CSimpleUdpServer&) = delete;
  CSimpleUdpServer& operator=(const CSimpleUdpServer&) = delete;

  // True when bound; an address in use gives false without a log line.
  bool bind_port(uint16_t port);
  void close();
  bool is_open() const { return socket_ != INVALID_SOCKET; }
  SOCKET socket() const { return socket_; }
  uint16_t port() const { return port_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  HANDLE event_ = nullptr;
  uint16_t port_ = 0;
};

}  // namespace p2p
