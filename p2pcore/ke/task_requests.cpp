// Running and dropping the task exports' queued requests.
#include "p2pcore/ke/task_requests.h"

#include <cstring>

namespace p2p {

task_requests::task_requests() {}

task_requests::~task_requests() {
  drop_all();
}

void task_requests::add(p2phandle* handle) {
  {
    CLockGuard h(map_lock_);
    live_.insert(handle);
  }
  queue(kRequestAddTask, nullptr, handle);
}

bool task_requests::queue(uint32_t type, void* data, void* handle) {
  CLockGuard h(queue_lock_);
  if (closed_) return false;
  requests_.push_back({type, data, handle});
  return true;
}

bool task_requests::has_task(void* handle) {
  CLockGuard h(map_lock_);
  return tasks_.count(static_cast<p2phandle*>(handle)) != 0;
}

std::vector<p2phandle*> task_requests::handles() {
  CLockGuard h(map_lock_);
  std::vector<p2phandle*> out;
  out.reserve(tasks_.size());
  for (auto& entry : tasks_) out.push_back(entry.first);
  return out;
}

p2phandle* task_requests::find_by_hash(const uint8_t hash[16]) {
  CLockGuard h(map_lock_);
  for (auto& entry : tasks_)
    if (std::memcmp(entry.first->file_hash(), hash, 16) == 0) return entry.first;
  return nullptr;
}

void task_requests::run() {
  std::list<session_request> batch;
  {
    CLockGuard h(queue_lock_);
    batch.swap(requests_);
  }
  for (session_request& r : batch) {
    p2phandle* handle = static_cast<p2phandle*>(r.handle);
    p2phandle* doomed = nullptr;
    {
      CLockGuard h(map_lock_);
      const bool live = live_.count(handle) != 0;
      switch (r.type) {
        case kRequestAddTask:
          if (live) tasks_[handle] = handle;
          break;
        case kRequestDeleteTask:
          if (live) {
            tasks_.erase(handle);
            live_.erase(handle);
            doomed = handle;
          }
          break;
        default:
          break;
      }
    }
    // Outside the map's lock: these run the handle's own work under its lock.
    switch (r.type) {
      case kRequestStartTask:
        if (has_task(handle)) handle->start();
        break;
      case kRequestDeleteTask:
        delete doomed;
        if (r.data) SetEvent(static_cast<HANDLE>(r.data));
        break;
      case kRequestFinish:
        if (has_task(handle)) handle->set_have_map(static_cast<const uint8_t*>(r.data), kFinishRecordSize);
        delete[] static_cast<uint8_t*>(r.data);
        break;
      default:
        break;
    }
  }
}

void task_requests::drop_all() {
  std::list<session_request> rest;
  {
    CLockGuard h(queue_lock_);
    rest.swap(requests_);
    closed_ = true;
  }
  for (session_request& r : rest) {
    if (r.type == kRequestFinish) delete[] static_cast<uint8_t*>(r.data);
    if (r.type == kRequestDeleteTask && r.data) SetEvent(static_cast<HANDLE>(r.data));
  }
  std::set<p2phandle*> gone;
  {
    CLockGuard h(map_lock_);
    gone.swap(live_);
    tasks_.clear();
  }
  for (p2phandle* handle : gone) {
    handle->stop();
    delete handle;
  }
}

}  // namespace p2p
