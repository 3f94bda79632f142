// Where the serving side joins the scheduler loop without living in it: the
// online TCP users (accepted peer connections), the peer commands that come
// in over UDP, and the upload workers' start and end. The loop only calls
// these objects; until serving is present the defaults refuse TCP peers and
// only length-check the UDP commands.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace p2p {

// The online TCP users of the listening socket.
class tcp_peer_hook {
 public:
  virtual ~tcp_peer_hook() = default;
  virtual void start() {}  // the scheduler thread starts
  virtual void stop() {}   // the scheduler thread ends
  // Takes the connections waiting on the listening socket (the default
  // closes them: no TCP peer is served).
  virtual void accept_from(SOCKET listener);
  // The users' sockets join the loop's read set while it has room.
  virtual void fill_read_set(fd_set&) {}
  virtual void on_readable(const fd_set&) {}
  // Users with bytes waiting to go out join its write set: the loop wakes when
  // their sockets take more.
  virtual void fill_write_set(fd_set&) {}
  virtual void on_writable(const fd_set&) {}
  // Send queues and time-outs, once a pass.
  virtual void housekeeping(uint32_t /*now_ms*/) {}
};

// The peer commands over UDP: call-me 9/50 (relayed by the super node), block
// requests 16 and 48/49, finished ranges 52/53 and the verify range 56.
class udp_peer_dispatch {
 public:
  virtual ~udp_peer_dispatch() = default;
  // body starts with the command code; wrapped: the request came in the outer layer.
  virtual void on_command(uint16_t command, const uint8_t* body, size_t n, const sockaddr_in& from, bool wrapped);
};

// The upload workers, started and stopped by the scheduler thread.
class upload_worker_hook {
 public:
  virtual ~upload_worker_hook() = default;
  virtual void start() {}
  virtual void stop() {}
};

bool is_udp_peer_command(uint16_t command);

// The objects the scheduler loop calls; the serving side installs its own.
struct serving_hooks {
  tcp_peer_hook* tcp_users;
  udp_peer_dispatch* udp_commands;
  upload_worker_hook* upload_workers;
};
serving_hooks& serving();

}  // namespace p2p
