// The one lock of the Windows-side code: CLock, a critical section that can
// say whether the calling thread holds it (so "under this lock" is an
// ORCHARD_ASSERT), with its scope guard CLockGuard. A thread may enter a lock
// it already holds, as a critical section allows. The platform-free halves
// (codec/ folders) keep the standard library's mutex.
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
  // Enters only if no other thread holds it; true when entered.
  bool TryEnter() { return TryEnterCriticalSection(&cs_) != 0; }
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
