// CWorkerThread: the thread handle and manual-reset stop event that every
// worker object of the server owns. Its thread waits on the stop event
// between steps; Stop signals it and waits a bounded time.
#pragma once
#include <windows.h>

#include "foundation/sync/event_thread.h"

class CWorkerThread {
 public:
  CWorkerThread() = default;
  ~CWorkerThread() = default;  // the owner stops the worker before it goes
  CWorkerThread(const CWorkerThread&) = delete;
  CWorkerThread& operator=(const CWorkerThread&) = delete;

  // Creates the stop event and starts the thread. False when either fails
  // (nothing is left running then) or the worker is already running.
  bool Start(ThreadProc procedure, void* argument);

  // Sets the stop event and waits up to ms for the thread. When it ended,
  // both handles are closed and the result is true. When it is still running
  // the handles are let go without closing them: the live thread may still
  // wait on its event, so they leak rather than vanish under it; false.
  bool Stop(DWORD ms);

  // For the thread: true once stopping was asked, waiting up to ms for it.
  bool StopRequested(DWORD ms) const { return HandlePresent(stop_) && EventWait(stop_, ms); }

  bool Running() const { return HandlePresent(thread_); }
  HANDLE StopEvent() const { return stop_; }
  HANDLE Thread() const { return thread_; }

 private:
  HANDLE thread_ = nullptr;
  HANDLE stop_ = nullptr;
};

// Threads of the program that outlived their bounded stop. What such a thread
// may use is kept (leaked, not freed); at exit the program ends without
// running its destructors under it. Counted by whoever gave up the wait.
void NoteThreadLeftRunning();
int ThreadsLeftRunning();
