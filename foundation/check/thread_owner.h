// CThreadOwner: the thread that state belongs to, for ORCHARD_ASSERT(owner.IsCurrent())
// where only that thread may touch it (a scheduler thread's sockets, maps and
// timers). The thread binds itself when it starts and lets go when it ends.
#pragma once
#include <atomic>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
#include <functional>
#include <thread>
#endif

class CThreadOwner {
 public:
  // The calling thread's id, never 0.
  static uint64_t CurrentId() {
#if defined(_WIN32)
    return uint64_t(GetCurrentThreadId()) + 1;
#else
    return uint64_t(std::hash<std::thread::id>()(std::this_thread::get_id())) | 1;
#endif
  }
  void Bind() { owner_.store(CurrentId(), std::memory_order_relaxed); }
  void Release() { owner_.store(0, std::memory_order_relaxed); }
  bool IsBound() const { return owner_.load(std::memory_order_relaxed) != 0; }
  // True on the bound thread; false anywhere else, and while no thread is bound.
  bool IsCurrent() const { return owner_.load(std::memory_order_relaxed) == CurrentId(); }

 private:
  std::atomic<uint64_t> owner_{0};
};
