// CWorkerThread: start and bounded stop of a server worker.
#include "foundation/sync/worker_thread.h"

#include <atomic>

namespace {
std::atomic<int> g_threadsLeft{0};
}  // namespace

void NoteThreadLeftRunning() { ++g_threadsLeft; }
int ThreadsLeftRunning() { return g_threadsLeft.load(); }

bool CWorkerThread::Start(ThreadProc procedure, void* argument) {
  if (HandlePresent(thread_)) return false;
  if (!HandlePresent(stop_)) stop_ = EventCreate(true);
  if (!HandlePresent(stop_)) return false;
  EventSet(stop_, false);
  thread_ = ThreadStart(procedure, argument);
  if (!HandlePresent(thread_)) {
    thread_ = nullptr;
    EventClose(&stop_);
    return false;
  }
  return true;
}

bool CWorkerThread::Stop(DWORD ms) {
  EventSet(stop_, true);
  if (!HandlePresent(thread_)) {
    EventClose(&stop_);
    return true;
  }
  if (!ThreadWait(thread_, ms)) {
    thread_ = nullptr;
    stop_ = nullptr;
    NoteThreadLeftRunning();
    return false;
  }
  ThreadClose(&thread_);
  EventClose(&stop_);
  return true;
}
