// server_manager: the library's one TCP link to the servers (the registration
// server while registering over TCP, then the upload server), framed and
// enciphered, with a send buffer for what the socket does not take at once.
// Used by the scheduler thread only.
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
  // A connected socket: new stream objects, empty buffer, connected.
  void attach(SOCKET s);
  // Bytes read from the socket.
  void receive(uint8_t* bytes, size_t n);
  bool send(uint16_t command, const std::vector<uint8_t>& body);
  // Sends what is buffered (the scheduler's send step).
  void flush();
  // Marks the link broken; the next pass step closes the socket.
  void mark_broken();
  // Closes the socket at once.
  void close();

  SOCKET socket() const { return sock_; }
  bool holds_socket() const { return sock_ != INVALID_SOCKET; }
  bool connected() const { return connected_; }
  bool error() const { return error_; }
  size_t buffered() const { return buffered_; }
  uint32_t share_tick = 0;  // tick of the last share batch sent or acknowledged

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
