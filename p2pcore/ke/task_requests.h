// The session's request queue: the task exports append {type, data, handle}
// entries under the queue's lock and the scheduler thread runs them in order
// at each logged-in pass, against the map of download tasks.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <list>
#include <map>
#include <vector>

#include "p2pcore/seedlift_api.h"

namespace p2p {

// The finish record of p2p_set_finish.
inline constexpr size_t kFinishRecordSize = 1312;

// A download task created by create_p2p_task; its work belongs to the download side.
struct p2p_task {
  p2p_task_info info;
  int started = 0;
  std::vector<uint8_t> finish;  // the last finish record given to the task
};

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

  void queue(uint32_t type, void* data, void* handle);
  // Runs what is queued (scheduler thread).
  void run();
  // Frees every queued entry and task; a waiting delete_p2p_task is released.
  void drop_all();
  bool has_task(void* handle);
  // The finish record the task holds; false for an unknown task or none yet.
  bool finish_record(void* handle, std::vector<uint8_t>* out);

 private:
  CRITICAL_SECTION queue_lock_;
  std::list<session_request> requests_;
  CRITICAL_SECTION map_lock_;
  std::map<void*, p2p_task*> tasks_;
};

}  // namespace p2p
