// The UDP socket of the upload core and the packet checks on receipt.
#include "p2pcore/io/SimpleUdpServer.h"

#include <mstcpip.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace p2p {

namespace {
constexpr int kBusySendAttempts = 10;
}  // namespace

std::atomic<uint64_t> CSimpleUdpServer::user_id_{0};
std::atomic<uint32_t> CSimpleUdpServer::sequence_{0};

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
  if (port == 0) {
    sockaddr_in bound = {};
    int len = sizeof bound;
    if (getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &len) == 0) port_ = ntohs(bound.sin_port);
  }
  return true;
}

bool CSimpleUdpServer::send_raw(const uint8_t* packet, size_t n, uint32_t ip, uint16_t port) {
  if (socket_ == INVALID_SOCKET || ip == 0xFFFFFFFFu || port == 0 || !packet || n == 0) return false;
  sockaddr_in to = {};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = ip;
  to.sin_port = htons(port);
  // The socket is non-blocking and upload workers send on it at once: a send
  // that finds it busy waits until it takes datagrams again, a little at most.
  for (int attempt = 0;; ++attempt) {
    if (sendto(socket_, reinterpret_cast<const char*>(packet), static_cast<int>(n), 0,
               reinterpret_cast<sockaddr*>(&to), sizeof to) != SOCKET_ERROR)
      break;
    if (WSAGetLastError() != WSAEWOULDBLOCK || attempt == kBusySendAttempts) {
      stat_add(&net_counters::udp_send_errors, 1);
      return false;
    }
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(socket_, &writable);
    timeval wait = {0, 20000};
    select(0, nullptr, &writable, nullptr, &wait);
  }
  stat_add(&net_counters::udp_packets_sent, 1);
  return true;
}

bool CSimpleUdpServer::send(const uint8_t* body, size_t n, uint32_t ip, uint16_t port, bool outer) {
  if (socket_ == INVALID_SOCKET || ip == 0xFFFFFFFFu || port == 0 || !body || n < 2) return false;
  const uint16_t command = static_cast<uint16_t>(body[0] | (body[1] << 8));
  P2P_LOG(1, "send packet : proto:%d cmd:%u, len %u to [%s:%u]", 1, command, static_cast<unsigned>(n),
          Ipv4Text(ip).c_str(), port);
  stat_count_udp_command(command);
  std::vector<uint8_t> packet = p2p::build_command_packet(user_id_.load(), ++sequence_, body, n);
  if (packet.empty()) return false;
  if (outer) {
    uint8_t pad[p2p::kUdpMaxPadSent];
    const uint8_t count = static_cast<uint8_t>(rand() % 8);
    for (uint8_t i = 0; i < count; ++i) pad[i] = static_cast<uint8_t>(rand());
    packet = p2p::wrap_outer(packet, pad, count);
    if (packet.empty()) return false;
  }
  stat_add(&net_counters::udp_bytes_sent, n + p2p::kUdpHeaderSize);
  return send_raw(packet.data(), packet.size(), ip, port);
}

p2p::UdpChecked CSimpleUdpServer::process(uint8_t* datagram, size_t n, const sockaddr_in& from) {
  p2p::UdpChecked r = p2p::check_datagram(datagram, n);
  const std::string source = Ipv4Text(from.sin_addr.s_addr);
  const unsigned from_port = ntohs(from.sin_port);
  switch (r.result) {
    case p2p::UdpCheck::kCommand:
      stat_add(&net_counters::udp_bytes_received, n);
      stat_add(&net_counters::udp_packets_received, 1);
      stat_count_udp_command(r.command);
      break;
    case p2p::UdpCheck::kData:
      stat_add(&net_counters::udp_bytes_received, n);
      break;
    case p2p::UdpCheck::kDataShort:
      break;
    case p2p::UdpCheck::kBadLength:
    case p2p::UdpCheck::kInnerTooShort:
      P2P_LOG(3, "%s%d \r\n", gbk("CSimpleUdpServer::ProcessPacket收到一无效数据包, 包长").c_str(), static_cast<int>(n));
      stat_add(&net_counters::udp_invalid_packets, 1);
      break;
    case p2p::UdpCheck::kCommandCrc:
      P2P_LOG(3, "%s%d from [%s:%u]\r\n", gbk("收到命令包 crc error, len=").c_str(), static_cast<int>(n), source.c_str(),
              from_port);
      stat_add(&net_counters::udp_invalid_packets, 1);
      break;
    case p2p::UdpCheck::kDataCrc:
      P2P_LOG(3, "%s%d from [%s:%u]\r\n", gbk("收到数据包 crc error, len=").c_str(), static_cast<int>(n), source.c_str(),
              from_port);
      break;
    case p2p::UdpCheck::kUnknownProtocol:
      P2P_LOG(3, "Error Packet %d", r.protocol);
      break;
  }
  return r;
}

}  // namespace p2p
