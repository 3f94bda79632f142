// Whether the calling thread holds a critical section, for ORCHARD_ASSERT
// where code relies on a lock being held (or on the order locks are taken in).
// The system keeps the owner's thread id in the section while it is entered.
#pragma once
#include <windows.h>

inline bool CriticalSectionHeldByThisThread(const CRITICAL_SECTION& cs) {
  return cs.OwningThread == reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(GetCurrentThreadId()));
}
