// Online TCP users: accept, receive, sweeps, the offline list and the pool.
#include "p2pcore/ke/onlineusermanager.h"

#include <ctime>
#include <new>

#include "foundation/sync/locks.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/ke/onlineuser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/wire/online_session.h"

namespace p2p {

namespace {

// Idle user objects kept for new connections (each holds its 1 MiB buffer).
constexpr size_t kPoolKept = 16;
constexpr size_t kSweepOnlineAbove = 120;
constexpr size_t kReceiveBytes = 0x10000;


uint32_t piece_blocks() {
  const uint32_t blocks = get_shareres_manager()->cache_block_size() / 1024;
  return blocks ? blocks : 1;
}

}  // namespace

online_user_manager::online_user_manager() {}

online_user_manager::~online_user_manager() {
  close_all();
}

online_user_manager* get_online_user_manager() {
  static online_user_manager* m = new online_user_manager;
  return m;
}

void online_user_manager::close_socket(SOCKET s) {
  if (s != INVALID_SOCKET) closesocket(s);
}

std::shared_ptr<online_user> online_user_manager::take_from_pool() {
  if (!pool_.empty()) {
    std::shared_ptr<online_user> u = std::move(pool_.back());
    pool_.pop_back();
    return u;
  }
  try {
    return std::make_shared<online_user>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// A worker that still holds the user keeps it on the offline list instead.
void online_user_manager::give_to_pool(std::shared_ptr<online_user> u) {
  if (u.use_count() > 1) {
    offline_.push_back(std::move(u));
    return;
  }
  if (pool_.size() < kPoolKept) pool_.push_back(std::move(u));
}

int online_user_manager::add_user(SOCKET s) {
  CLockGuard h(lock_);
  std::shared_ptr<online_user> u = take_from_pool();
  if (!u) return 1;
  // The socket takes what one user may have waiting, so answers rarely wait for a pass.
  int buffer = int(kOnlineSendBuffer);
  setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer), sizeof buffer);
  u->reset(s, piece_blocks());
  online_[s] = std::move(u);
  return 0;
}

std::shared_ptr<online_user> online_user_manager::find_user(SOCKET s) {
  CLockGuard h(lock_);
  auto it = online_.find(s);
  return it == online_.end() ? nullptr : it->second;
}

void online_user_manager::on_io_error(SOCKET s) {
  CLockGuard h(lock_);
  auto it = online_.find(s);
  if (it == online_.end()) return;
  std::shared_ptr<online_user> u = std::move(it->second);
  online_.erase(it);
  close_socket(s);
  u->set_bad();
  P2P_LOG(9, "TCP::the ioerror userid is %lld", (long long)u->user_id());
  offline_.push_back(std::move(u));
}

size_t online_user_manager::count_users() {
  CLockGuard h(lock_);
  P2P_LOG(9, "====== online user numbber[%d] =====", int(online_.size()));
  P2P_LOG(9, "====== offline user numbber[%d] =====", int(offline_.size()));
  return online_.size() + offline_.size();
}

size_t online_user_manager::collect_sockets(SOCKET* out, size_t max) {
  CLockGuard h(lock_);
  size_t n = 0;
  for (const auto& [s, u] : online_) {
    if (s == 0 || s == INVALID_SOCKET) continue;
    if (n >= max || n >= kMaxTcpSockets) {
      P2P_LOG(3, "TCP::ClientManager too many online=[%d]", int(online_.size()));
      break;
    }
    out[n++] = s;
  }
  return n;
}

void online_user_manager::sweep_online() {
  const uint64_t now = online_now();
  CLockGuard h(lock_);
  if (now - last_online_sweep_ <= 4) return;
  last_online_sweep_ = now;
  if (online_.size() <= kSweepOnlineAbove) return;
  for (auto it = online_.begin(); it != online_.end();) {
    if (!it->second->is_timed_out(0)) {
      ++it;
      continue;
    }
    P2P_LOG(9, "TCP::Main the Online timeout userid is %lld", (long long)it->second->user_id());
    close_socket(it->first);
    std::shared_ptr<online_user> u = std::move(it->second);
    it = online_.erase(it);
    give_to_pool(std::move(u));
  }
}

void online_user_manager::sweep_offline() {
  const uint64_t now = online_now();
  CLockGuard h(lock_);
  if (now == last_offline_sweep_) return;
  last_offline_sweep_ = now;
  std::vector<std::shared_ptr<online_user>> keep;
  std::vector<std::shared_ptr<online_user>> done;
  for (std::shared_ptr<online_user>& u : offline_) {
    // Timed out and no read of a worker still holds it.
    if (u.use_count() == 1 && u->is_timed_out(1)) {
      P2P_LOG(9, "TCP::Main the offline userid is %lld", (long long)u->user_id());
      done.push_back(std::move(u));
    } else {
      keep.push_back(std::move(u));
    }
  }
  offline_.swap(keep);
  for (std::shared_ptr<online_user>& u : done)
    if (pool_.size() < kPoolKept) pool_.push_back(std::move(u));
}

void online_user_manager::flush_and_reap() {
  std::vector<std::shared_ptr<online_user>> live;
  {
    CLockGuard h(lock_);
    for (auto it = online_.begin(); it != online_.end();) {
      if (it->second->state() != 2) {
        live.push_back(it->second);
        ++it;
        continue;
      }
      P2P_LOG(9, "TCP::the ioerror userid is %lld", (long long)it->second->user_id());
      close_socket(it->first);
      offline_.push_back(std::move(it->second));
      it = online_.erase(it);
    }
  }
  // Outside the manager's lock: workers look users up while these send.
  for (const std::shared_ptr<online_user>& u : live) u->flush();
}

void online_user_manager::free_pool() {
  CLockGuard h(lock_);
  pool_.clear();
}

void online_user_manager::close_all() {
  CLockGuard h(lock_);
  for (auto& [s, u] : online_) {
    close_socket(s);
    u->set_bad();
  }
  online_.clear();
  offline_.clear();
  pool_.clear();
}

void online_user_manager::accept_from(SOCKET listener) {
  for (;;) {
    const SOCKET peer = accept(listener, nullptr, nullptr);
    if (peer == INVALID_SOCKET) return;
    P2P_LOG(1, "TCP::Main Tcp Accpet Socket[%d]", int(peer));
    if (online_count() >= kMaxOnlineUsers) {
      if (!at_limit_) {
        at_limit_ = true;
        P2P_LOG(3, "TCP::Main too many tcp");
        count_users();
      }
      sweep_online();
      sweep_offline();
      // Closed at once, so that the peer knows to come back later instead of
      // waiting on a connection nobody reads.
      P2P_LOG(1, "TCP::Main Accept Socket[%d] too many user!", int(peer));
      closesocket(peer);
      continue;
    }
    if (at_limit_) {
      at_limit_ = false;
      count_users();
    }
    u_long on = 1;
    if (ioctlsocket(peer, FIONBIO, &on) != 0) {
      P2P_LOG(3, "TCP::Main Accept Socket[%d] Set nonblock failed!", int(peer));
      closesocket(peer);
      continue;
    }
    if (add_user(peer) == 0) {
      P2P_LOG(1, "TCP::Main Accpet Socket[%d] Success!", int(peer));
    } else {
      P2P_LOG(3, "TCP::Main Accept Socket[%d] too many user!", int(peer));
      closesocket(peer);
    }
  }
}

void online_user_manager::fill_read_set(fd_set& set) {
  SOCKET sockets[kMaxTcpSockets];
  const size_t n = collect_sockets(sockets, kMaxTcpSockets);
  for (size_t i = 0; i < n && set.fd_count < FD_SETSIZE; ++i) FD_SET(sockets[i], &set);
}

void online_user_manager::serve_readable(const fd_set& set) {
  static thread_local uint8_t buffer[kReceiveBytes];
  SOCKET sockets[kMaxTcpSockets];
  const size_t n = collect_sockets(sockets, kMaxTcpSockets);
  for (size_t i = 0; i < n; ++i) {
    const SOCKET s = sockets[i];
    if (!FD_ISSET(s, &set)) continue;
    std::shared_ptr<online_user> u = find_user(s);
    if (!u) continue;
    const int got = recv(s, reinterpret_cast<char*>(buffer), int(sizeof buffer), 0);
    if (got > 0) {
      u->receive(buffer, size_t(got));
    } else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
      on_io_error(s);
    }
  }
}

void online_user_manager::fill_write_set(fd_set& set) {
  CLockGuard h(lock_);
  for (const auto& [s, u] : online_)
    if (set.fd_count < kMaxTcpSockets && u->waiting() > 0) FD_SET(s, &set);
}

void online_user_manager::flush_writable(const fd_set& set) {
  for (u_int i = 0; i < set.fd_count; ++i)
    if (std::shared_ptr<online_user> u = find_user(set.fd_array[i])) u->flush();
}

void online_user_manager::housekeeping() {
  sweep_online();
  sweep_offline();
  flush_and_reap();
}

size_t online_user_manager::online_count() {
  CLockGuard h(lock_);
  return online_.size();
}

size_t online_user_manager::offline_count() {
  CLockGuard h(lock_);
  return offline_.size();
}

size_t online_user_manager::pool_count() {
  CLockGuard h(lock_);
  return pool_.size();
}

}  // namespace p2p
