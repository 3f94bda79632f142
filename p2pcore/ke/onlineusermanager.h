// The online TCP users (online_user_manager): accepted peer connections by
// socket, the offline list where failed users wait until reads started for
// them have completed, and the pool of idle user objects with their 1 MiB
// send buffers. The scheduler thread accepts, reads and sweeps; the upload
// workers find users by socket to answer them.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "foundation/sync/locks.h"

namespace p2p {

class online_user;

// Sockets put into one select read set.
inline constexpr size_t kMaxTcpSockets = 201;
// Users online at most: a connection beyond them is accepted and closed at
// once. Closed users waiting on the offline list hold no place.
inline constexpr size_t kMaxOnlineUsers = 160;

class online_user_manager {
 public:
  online_user_manager();
  ~online_user_manager();
  online_user_manager(const online_user_manager&) = delete;
  online_user_manager& operator=(const online_user_manager&) = delete;

  // 0 added, 1 no user object could be had.
  int add_user(SOCKET s);
  // The user of a socket; it stays valid while held, even once it went offline.
  std::shared_ptr<online_user> find_user(SOCKET s);
  void on_io_error(SOCKET s);
  size_t count_users();
  // Sockets of the online users in socket order, at most kMaxTcpSockets.
  size_t collect_sockets(SOCKET* out, size_t max);
  // At most every 5 s and only with more than 120 online: timed-out users closed.
  void sweep_online();
  // At most once a second: offline users idle 5 s (10 s after a login without
  // activity) and no longer used by a worker go back to the pool.
  void sweep_offline();
  // Bad users go offline with their sockets closed; the others send what waits.
  void flush_and_reap();
  void free_pool();
  // Session end: every user closed and freed.
  void close_all();

  // The scheduler loop's steps.
  // Takes every connection waiting on the listening socket: a new online
  // user while fewer than kMaxOnlineUsers are online, else closed at once
  // (with the sweeps run, which may make room). The limit's log lines come
  // once when it is reached, not once a connection.
  void accept_from(SOCKET listener);
  bool at_user_limit() const { return at_limit_; }
  // Puts the online users' sockets into a read set.
  void fill_read_set(fd_set& set);
  // One receive of up to 64 KiB for each readable user; a closed or failed
  // connection goes offline.
  void serve_readable(const fd_set& set);
  // Users with bytes waiting join a write set; the writable ones send them.
  void fill_write_set(fd_set& set);
  void flush_writable(const fd_set& set);
  // Sweeps, then flush_and_reap.
  void housekeeping();

  size_t online_count();
  size_t offline_count();
  size_t pool_count();

 private:
  std::shared_ptr<online_user> take_from_pool();
  void give_to_pool(std::shared_ptr<online_user> u);
  void close_socket(SOCKET s);

  CLock lock_;
  std::map<SOCKET, std::shared_ptr<online_user>> online_;
  std::vector<std::shared_ptr<online_user>> offline_;
  std::vector<std::shared_ptr<online_user>> pool_;
  uint64_t last_online_sweep_ = 0;
  uint64_t last_offline_sweep_ = 0;
  bool at_limit_ = false;  // scheduler thread only
};

online_user_manager* get_online_user_manager();

}  // namespace p2p
