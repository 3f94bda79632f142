// The session's request queue and its download tasks: the task exports append
// {type, data, handle} entries under the queue's lock and the scheduler
// thread runs them in order at each logged-in pass. A handle counts as live
// from create_p2p_task until its deletion, and the exports reach it only
// through with_handle(), under the map's lock, so that a stale handle is
// refused instead of used.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <vector>

#include "foundation/sync/locks.h"
#include "p2pcore/ke/p2phandle.h"

namespace p2p {

enum : uint32_t { kRequestAddTask = 0, kRequestStartTask = 1, kRequestDeleteTask = 2, kRequestFinish = 5 };
struct session_request {
  uint32_t type;
  void* data;
  void* handle;
};

class task_requests {
 public:
  task_requests();
  ~task_requests();
  task_requests(const task_requests&) = delete;
  task_requests& operator=(const task_requests&) = delete;

  // A new handle, live from now on; its start-up request is queued.
  void add(p2phandle* handle);
  // False once the scheduler thread has ended: nothing queued would run.
  bool queue(uint32_t type, void* data, void* handle);
  // Runs what is queued (scheduler thread).
  void run();
  // Frees every queued entry and handle; a waiting delete_p2p_task is
  // released, and later requests are refused.
  void drop_all();
  bool has_task(void* handle);

  // Calls fn on a live handle under the map's lock; false when it is not live.
  template <typename F>
  bool with_handle(void* handle, F fn) {
    CLockGuard h(map_lock_);
    if (!handle || !live_.count(static_cast<p2phandle*>(handle))) return false;
    fn(*static_cast<p2phandle*>(handle));
    return true;
  }

  // The handles in the map (scheduler thread: only it destroys handles).
  std::vector<p2phandle*> handles();
  p2phandle* find_by_hash(const uint8_t hash[16]);

 private:
  CLock queue_lock_;
  std::list<session_request> requests_;
  bool closed_ = false;
  CLock map_lock_;
  std::set<p2phandle*> live_;
  std::map<p2phandle*, p2phandle*> tasks_;  // added by the start-up request
};

}  // namespace p2p
