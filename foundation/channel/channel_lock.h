// CLock: the control channel's lock, one critical section. CLockGuard holds
// it for a scope and may leave and enter it again inside that scope.
#pragma once
#include <windows.h>

class CLock {
 public:
  CLock() { InitializeCriticalSection(&cs_); }
  ~CLock() { DeleteCriticalSection(&cs_); }
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};

class CLockGuard {
 public:
  explicit CLockGuard(CLock& lock) : lock_(lock), held_(1) { lock_.Enter(); }
  ~CLockGuard() { Leave(); }
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;
  void Leave() {
    if (held_) {
      held_ = 0;
      lock_.Leave();
    }
  }
  void Enter() {
    if (!held_) {
      held_ = 1;
      lock_.Enter();
    }
  }

 private:
  CLock& lock_;
  uint8_t held_;
};
