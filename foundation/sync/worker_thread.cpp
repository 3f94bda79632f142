// CWorkerThread: start and bounded stop of a worker thread.
#include "foundation/sync/worker_thread.h"

namespace {
std::atomic<int> g_threadsLeft{0};

void WriteStopLine(const ThreadStopLog& log, int level, const char* line) {
  if (log.write != nullptr && line != nullptr) log.write(level, line);
}
}  // namespace

void NoteThreadLeftRunning() { ++g_threadsLeft; }
int ThreadsLeftRunning() { return g_threadsLeft.load(); }

bool CWorkerThread::Start(ThreadProc procedure, void* argument) {
  if (HandlePresent(thread_.load())) return false;
  HANDLE stop = stop_.load();
  if (!HandlePresent(stop)) stop = EventCreate(true);
  if (!HandlePresent(stop)) return false;
  EventSet(stop, false);
  stopping_ = false;
  stop_ = stop;
  HANDLE thread = ThreadStart(procedure, argument);
  if (!HandlePresent(thread)) {
    stop_ = nullptr;
    EventClose(&stop);
    return false;
  }
  thread_ = thread;
  return true;
}

void CWorkerThread::RequestStop() {
  stopping_ = true;
  EventSet(stop_.load(), true);
}

bool CWorkerThread::StopRequested(DWORD ms) const {
  if (stopping_.load()) return true;
  const HANDLE stop = stop_.load();
  return HandlePresent(stop) && EventWait(stop, ms);
}

bool CWorkerThread::Stop(DWORD firstWaitMs, DWORD laterWaitMs, const ThreadStopLog& log) {
  RequestStop();
  HANDLE thread = thread_.load();
  HANDLE stop = stop_.load();
  if (!HandlePresent(thread)) {
    stop_ = nullptr;
    EventClose(&stop);
    return true;
  }
  bool ended = ThreadWait(thread, firstWaitMs);
  if (!ended && laterWaitMs != 0) {
    WriteStopLine(log, 1, log.waiting);
    ended = ThreadWait(thread, laterWaitMs);
  }
  thread_ = nullptr;
  stop_ = nullptr;
  if (!ended) {
    WriteStopLine(log, 3, log.leftRunning);
    NoteThreadLeftRunning();
    return false;
  }
  ThreadClose(&thread);
  EventClose(&stop);
  return true;
}
