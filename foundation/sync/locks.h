// Critical-section locks: CLock with its scope guard CLockGuard (the control
// channel's), CCritSec with CAutoLock (the publishing code's). A thread may
// enter a lock it already holds, as a critical section allows.
#pragma once
#include <windows.h>

#include <cstdint>

#include "foundation/check/lock_owner.h"

class CLock {
 public:
  CLock() { InitializeCriticalSection(&cs_); }
  ~CLock() { DeleteCriticalSection(&cs_); }
  CLock(const CLock&) = delete;
  CLock& operator=(const CLock&) = delete;
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }
  // For ORCHARD_ASSERT where the code relies on holding it.
  bool HeldByThisThread() const { return CriticalSectionHeldByThisThread(cs_); }

 private:
  CRITICAL_SECTION cs_;
};

// Holds the lock from construction until Leave or the end of its scope.
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
  bool Held() const { return held_ != 0; }

 private:
  CLock& lock_;
  uint8_t held_;
};

class CCritSec {
 public:
  CCritSec() { Init(); }
  ~CCritSec() { Delete(); }
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;
  void Init() {
    if (!live_) {
      InitializeCriticalSection(&cs_);
      live_ = true;
    }
  }
  void Delete() {
    if (live_) {
      DeleteCriticalSection(&cs_);
      live_ = false;
    }
  }
  void Enter() { EnterCriticalSection(&cs_); }
  void Leave() { LeaveCriticalSection(&cs_); }
  bool HeldByThisThread() const { return live_ && CriticalSectionHeldByThisThread(cs_); }

 private:
  CRITICAL_SECTION cs_;
  bool live_ = false;
};

class CAutoLock {
 public:
  explicit CAutoLock(CCritSec& lock) : lock_(lock) { lock_.Enter(); }
  ~CAutoLock() { lock_.Leave(); }
  CAutoLock(const CAutoLock&) = delete;
  CAutoLock& operator=(const CAutoLock&) = delete;

 private:
  CCritSec& lock_;
};
