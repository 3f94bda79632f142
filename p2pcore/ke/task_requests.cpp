// Running and dropping the task exports' queued requests.
#include "p2pcore/ke/task_requests.h"

#include "p2pcore/p2pbase/inc/scoped_lock.h"

namespace p2p {

task_requests::task_requests() {
  InitializeCriticalSection(&queue_lock_);
  InitializeCriticalSection(&map_lock_);
}

task_requests::~task_requests() {
  drop_all();
  DeleteCriticalSection(&map_lock_);
  DeleteCriticalSection(&queue_lock_);
}

void task_requests::queue(uint32_t type, void* data, void* handle) {
  scoped_lock h(queue_lock_);
  requests_.push_back({type, data, handle});
}

bool task_requests::has_task(void* handle) {
  scoped_lock h(map_lock_);
  return tasks_.count(handle) != 0;
}

void task_requests::run() {
  std::list<session_request> batch;
  {
    scoped_lock h(queue_lock_);
    batch.swap(requests_);
  }
  for (session_request& r : batch) {
    scoped_lock h(map_lock_);
    p2p_task* task = static_cast<p2p_task*>(r.handle);
    switch (r.type) {
      case kRequestAddTask:
        tasks_[task] = task;
        break;
      case kRequestStartTask:
        if (tasks_.count(task)) task->started = 1;
        break;
      case kRequestDeleteTask:
        if (tasks_.erase(task)) delete task;
        if (r.data) SetEvent(static_cast<HANDLE>(r.data));
        break;
      case kRequestFinish: {
        // The record reaches its task (the task keeps the latest); one for no task is let go.
        const uint8_t* record = static_cast<const uint8_t*>(r.data);
        if (record && tasks_.count(task)) task->finish.assign(record, record + kFinishRecordSize);
        delete[] record;
        break;
      }
    }
  }
}

bool task_requests::finish_record(void* handle, std::vector<uint8_t>* out) {
  scoped_lock h(map_lock_);
  auto it = tasks_.find(handle);
  if (it == tasks_.end() || it->second->finish.empty()) return false;
  if (out) *out = it->second->finish;
  return true;
}

void task_requests::drop_all() {
  std::list<session_request> rest;
  {
    scoped_lock h(queue_lock_);
    rest.swap(requests_);
  }
  for (session_request& r : rest) {
    if (r.type == kRequestAddTask) delete static_cast<p2p_task*>(r.handle);
    if (r.type == kRequestFinish) delete[] static_cast<uint8_t*>(r.data);
    if (r.type == kRequestDeleteTask && r.data) SetEvent(static_cast<HANDLE>(r.data));
  }
  scoped_lock h(map_lock_);
  for (auto& [handle, task] : tasks_) delete task;
  tasks_.clear();
}

}  // namespace p2p
