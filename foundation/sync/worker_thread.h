// CWorkerThread: the one owner of a thread with a manual-reset stop event.
// Its thread waits on the stop event between steps; a stop signals it and
// waits a bounded time, and a thread that outlives the wait is logged, counted
// and left running with what it uses (its handles are let go, not closed).
#pragma once
#include <windows.h>

#include <atomic>

#include "foundation/sync/event_thread.h"

// What a bounded stop writes to its owner's log (OrchardSvc's main log, or
// Seedlift's own): `waiting` at level 1 once the first wait has run out and a
// second one follows, `leftRunning` at level 3 when the thread is let go.
// A null writer or line writes nothing.
struct ThreadStopLog {
  void (*write)(int level, const char* line) = nullptr;
  const char* waiting = nullptr;
  const char* leftRunning = nullptr;
};

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
  bool Stop(DWORD ms) { return Stop(ms, 0, ThreadStopLog()); }
  // The same in two waits: firstWaitMs, then (logging `waiting`) laterWaitMs
  // more; a thread still running after both is logged as left running.
  bool Stop(DWORD firstWaitMs, DWORD laterWaitMs, const ThreadStopLog& log);
  // Only sets the stop event: the thread ends at its next look at it, and a
  // Stop later collects it.
  void RequestStop();

  // For the thread: true once stopping was asked, waiting up to ms for it.
  // It stays true for a thread that was let go after its wait.
  bool StopRequested(DWORD ms) const;

  // A thread was started and not yet collected by a Stop.
  bool Running() const { return HandlePresent(thread_.load()); }
  // Started, not yet collected, and its procedure has returned.
  bool Ended() const { return Running() && ThreadWait(thread_.load(), 0); }
  HANDLE StopEvent() const { return stop_.load(); }
  HANDLE Thread() const { return thread_.load(); }

 private:
  std::atomic<HANDLE> thread_{nullptr};
  std::atomic<HANDLE> stop_{nullptr};
  std::atomic<bool> stopping_{false};
};

// Threads of the program that outlived their bounded stop. What such a thread
// may use is kept (leaked, not freed); at exit the program ends without
// running its destructors under it. Counted by whoever gave up the wait.
void NoteThreadLeftRunning();
int ThreadsLeftRunning();
