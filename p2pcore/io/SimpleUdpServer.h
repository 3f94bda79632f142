// The upload core's UDP socket (CSimpleUdpServer): create, bind on a port at
// the BindHost address, close; send command and data packets through the
// packet layers and check every received datagram.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "p2pcore/wire/udp_packet.h"

namespace p2p {

class CSimpleUdpServer {
 public:
  CSimpleUdpServer();  // starts Winsock
  ~CSimpleUdpServer();  // closes, then ends Winsock
  CSimpleUdpServer(const CSimpleUdpServer&) = delete;
  CSimpleUdpServer& operator=(const CSimpleUdpServer&) = delete;

  // True when bound; an address in use gives false without a log line.
  // Port 0 takes any free port (the second object, for NAT tests).
  bool bind_port(uint16_t port);
  void close();
  bool is_open() const { return socket_ != INVALID_SOCKET; }
  SOCKET socket() const { return socket_; }
  uint16_t port() const { return port_; }

  // Sends a command body (starting with its u16 code) to ip (network order).
  bool send(const uint8_t* body, size_t n, uint32_t ip, uint16_t port, bool outer);
  // Sends a packet built whole by the packet layer (data packets).
  bool send_raw(const uint8_t* packet, size_t n, uint32_t ip, uint16_t port);
  // Checks a received datagram and unmasks it in place; failures are logged
  // and counted here, so the caller dispatches only what passed.
  p2p::UdpChecked process(uint8_t* datagram, size_t n, const sockaddr_in& from);

  // The sender's user id that every command packet carries.
  static void set_user_id(uint64_t id) { user_id_.store(id); }
  static uint64_t user_id() { return user_id_.load(); }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  HANDLE event_ = nullptr;
  uint16_t port_ = 0;
  static std::atomic<uint64_t> user_id_;
  static std::atomic<uint32_t> sequence_;
};

}  // namespace p2p
