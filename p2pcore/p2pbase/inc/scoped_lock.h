// The scoped hold of a raw critical section, left for the session, upload-task
// and file-cache files until they move to CLock and CLockGuard.
#pragma once
#include <winsock2.h>
#include <windows.h>

namespace p2p {

class scoped_lock {
 public:
  explicit scoped_lock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~scoped_lock() { LeaveCriticalSection(&section_); }
  scoped_lock(const scoped_lock&) = delete;
  scoped_lock& operator=(const scoped_lock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};

}  // namespace p2p
