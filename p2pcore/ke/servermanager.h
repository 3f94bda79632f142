// server_manager: the library's one TCP link to the servers (the registration
// server while registering over TCP, then the upload server): its connect,
// reads and close, framing and cipher, and a send buffer for what the socket
// does not take at once. Used by the scheduler thread only.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "p2pcore/wire/tcp_stream.h"

namespace p2p {

// The link's receiver: frames are collected during unpack and dispatched after
// it returns, so a handler may replace the link's stream objects safely.
class ServerDataInPacking : public DataInPacking {
 public:
  struct frame {
    uint16_t command;
    std::vector<uint8_t> body;
  };
  std::vector<frame> frames;

 protected:
  void on_frame(uint16_t command, const uint8_t* body, uint32_t length) override {
    frames.push_back({command, std::vector<uint8_t>(body, body + length)});
  }
};

}  // namespace p2p

namespace p2p {

// What the link hands to the session.
class server_link_events {
 public:
  virtual ~server_link_events() = default;
  virtual void on_link_register_reply(const uint8_t* body, uint32_t n) = 0;
  virtual void on_link_login_reply(const uint8_t* body, uint32_t n) = 0;
  virtual void on_link_keepalive_ok() = 0;
  virtual void on_link_share_accepted() = 0;
};

class server_manager {
 public:
  static constexpr size_t kBufferSize = 0x300000;
  static constexpr size_t kQueueLimit = 0x180000;

  static server_manager& instance();
  static void destroy();

  void set_events(server_link_events* events) { events_ = events; }
  // Connects to the registration server (to_up false) or the upload server
  // with the bounded connect of the utility layer, attaches the socket and
  // logs the outcome. ip in network order.
  bool connect(uint32_t ip, uint16_t port, bool to_up);
  // A connected socket: new stream objects, empty buffer, connected.
  void attach(SOCKET s);
  // Reads the socket until it would block; end of stream or an error breaks the link.
  void receive_from_socket();
  // Bytes read from the socket.
  void receive(uint8_t* bytes, size_t n);
  bool send(uint16_t command, const std::vector<uint8_t>& body);
  // Sends what is buffered (the scheduler's send step).
  void flush();
  // Marks the link broken; the next pass step closes the socket.
  void mark_broken();
  // Closes the socket at once.
  void close();
  // The pass step's close of a link that broke.
  void close_broken();

  SOCKET socket() const { return sock_; }
  bool holds_socket() const { return sock_ != INVALID_SOCKET; }
  bool connected() const { return connected_; }
  bool error() const { return error_; }
  size_t buffered() const { return buffered_; }

 private:
  server_manager();
  void dispatch(uint16_t command, const uint8_t* body, uint32_t n);

  std::unique_ptr<p2p::ServerDataInPacking> in_;
  std::unique_ptr<p2p::DataOutPacking> out_;
  SOCKET sock_ = INVALID_SOCKET;
  bool connected_ = false;
  std::vector<uint8_t> buffer_;
  size_t buffered_ = 0;
  bool error_ = false;
  server_link_events* events_ = nullptr;
};

}  // namespace p2p
