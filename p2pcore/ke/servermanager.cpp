// The TCP link to the servers: connect and close, reading, framing,
// buffering and the routing of replies.
#include "p2pcore/ke/servermanager.h"

#include <cstring>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/sockutil.h"
#include "p2pcore/stat/StatAPI.h"
#include "p2pcore/wire/server_protocol.h"

namespace p2p {
namespace {
server_manager* g_link = nullptr;
}

server_manager& server_manager::instance() {
  if (!g_link) g_link = new server_manager();
  return *g_link;
}

void server_manager::destroy() {
  if (g_link) g_link->close();
  delete g_link;
  g_link = nullptr;
}

server_manager::server_manager() : buffer_(kBufferSize) {}

void server_manager::attach(SOCKET s) {
  sock_ = s;
  in_ = std::make_unique<p2p::ServerDataInPacking>();
  out_ = std::make_unique<DataOutPacking>();
  buffered_ = 0;
  error_ = false;
  connected_ = true;
}

bool server_manager::connect(uint32_t ip, uint16_t port, bool to_up) {
  if (holds_socket()) close();
  const std::string host = Ipv4Text(ip);
  const long long s = tcp_connect(INVALID_SOCKET, ip, port);
  if (s < 0) {
    if (to_up)
      P2P_LOG(3, "TCP::ServerManager Connect Up [%s:%d] fail!Reconnct to Cp!", host.c_str(), int(port));
    else
      P2P_LOG(3, "TCP::ServerManager Connect to Cp[%s:%d] fail!", host.c_str(), int(port));
    return false;
  }
  attach(static_cast<SOCKET>(s));
  if (to_up)
    P2P_LOG(2, "TCP::ServerManager Connect Up[%s:%d] success!", host.c_str(), int(port));
  else
    P2P_LOG(2, "TCP::ServerManager Connect to Cp[%s:%d] success!", host.c_str(), int(port));
  return true;
}

void server_manager::receive_from_socket() {
  uint8_t bytes[16384];
  for (;;) {
    if (!connected_ || !holds_socket()) return;
    const int n = recv(sock_, reinterpret_cast<char*>(bytes), sizeof bytes, 0);
    if (n > 0) {
      receive(bytes, size_t(n));
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
    mark_broken();
    return;
  }
}

void server_manager::mark_broken() {
  connected_ = false;
  error_ = true;
}

void server_manager::close() {
  if (sock_ != INVALID_SOCKET) closesocket(sock_);
  sock_ = INVALID_SOCKET;
  connected_ = false;
  buffered_ = 0;
  in_.reset();
  out_.reset();
}

void server_manager::close_broken() {
  close();
  P2P_LOG(3, "TCP::ServerManager IO Error but not done");
}

void server_manager::receive(uint8_t* bytes, size_t n) {
  if (!connected_ || !in_) {
    P2P_LOG(3, "TCP::ServerManager not connect to server");
    return;
  }
  stat_add(&net_counters::link_bytes_received, n);
  const SOCKET s = sock_;
  const int16_t rc = in_->unpack(bytes, n);
  const int16_t state = in_->state();
  std::vector<p2p::ServerDataInPacking::frame> frames;
  frames.swap(in_->frames);
  for (const auto& f : frames) {
    dispatch(f.command, f.body.data(), static_cast<uint32_t>(f.body.size()));
    // A reply that broke, closed or replaced the link ends this stream here.
    if (!connected_ || sock_ != s) return;
  }
  if (rc < 0) {
    P2P_LOG(3, "TCP::ServerManager Tcp_pack errno=[%d]", state);
    mark_broken();
  }
}

void server_manager::dispatch(uint16_t command, const uint8_t* body, uint32_t n) {
  stat_count_link_command(command);
  stat_add(&net_counters::link_frames_received, 1);
  switch (command) {
    case kTcpRegisterReply:
      if (events_) events_->on_link_register_reply(body, n);
      break;
    case kTcpLoginReply:
      if (events_) events_->on_link_login_reply(body, n);
      break;
    case kTcpKeepaliveReply: {
      uint16_t result = 0xFFFF;
      if (parse_tcp_result(body, n, result) != ReplyError::kNone) {
        P2P_LOG(3, "TCP::ServerManager Recv [%d] Unkown!", -1);
        break;
      }
      if (result == 0) {
        if (events_) events_->on_link_keepalive_ok();
        P2P_LOG(2, "TCP::ServerManager recv Keepalive!");
      } else if (result == 1 || result == 2) {
        mark_broken();
        P2P_LOG(3, result == 1 ? "TCP::ServerManager Recv result 0x01" : "TCP::ServerManager Recv result 0x02");
      } else {
        P2P_LOG(3, "TCP::ServerManager Recv [%d] Unkown!", result);
      }
      break;
    }
    case kTcpShareAccepted:
      if (events_) events_->on_link_share_accepted();
      break;
    case 15:
    case 28:
      break;
    default:
      P2P_LOG(3, "TCP::ServerManager Incoming Cmd=[%d] Unkown!", command);
      break;
  }
}

bool server_manager::send(uint16_t command, const std::vector<uint8_t>& body) {
  if (!connected_ || !out_) {
    P2P_LOG(3, "TCP::ServerManager IO Error");
    return false;
  }
  if (buffered_ > kQueueLimit) {
    mark_broken();
    P2P_LOG(3, "TCP::ServerManager Send Memory=[%d]too large!", static_cast<int>(buffered_));
    return false;
  }
  tcp_frame frame;
  frame.new_frame(command, random_header_length());
  frame.append(body.data(), body.size());
  out_->pack(frame);
  if (buffered_ + frame.size() > buffer_.size()) {
    mark_broken();
    P2P_LOG(3, "TCP::ServerManager Send Memory=[%d]too large!", static_cast<int>(buffered_ + frame.size()));
    return false;
  }
  stat_count_link_command(command);
  stat_add(&net_counters::link_bytes_sent, frame.size());
  stat_add(&net_counters::link_frames_sent, 1);
  memcpy(buffer_.data() + buffered_, frame.data(), frame.size());
  buffered_ += frame.size();
  flush();
  return true;
}

void server_manager::flush() {
  if (!connected_ || buffered_ == 0) return;
  size_t sent = 0;
  while (sent < buffered_) {
    int n = ::send(sock_, reinterpret_cast<const char*>(buffer_.data() + sent), static_cast<int>(buffered_ - sent), 0);
    if (n == SOCKET_ERROR) {
      int error = WSAGetLastError();
      if (error != WSAEWOULDBLOCK) {
        mark_broken();
        P2P_LOG(3, "TCP::Server Send Server errno=[%d]!", error);
        return;
      }
      break;
    }
    sent += static_cast<size_t>(n);
  }
  if (sent == buffered_) {
    buffered_ = 0;
    P2P_LOG(1, "TCP::ServerManager Send all Data!");
  } else if (sent) {
    memmove(buffer_.data(), buffer_.data() + sent, buffered_ - sent);
    buffered_ -= sent;
  }
}

}  // namespace p2p
