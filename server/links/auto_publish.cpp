// The automatic-publish thread: DoOutput at start, then every 300 seconds.
#include "server/links/auto_publish.h"

#include <ctime>

#include "foundation/log/server_logs.h"
#include "server/links/links.h"

bool CAutoPublish::Start() { return worker_.Running() || worker_.Start(Run, this); }

void CAutoPublish::Stop() {
  if (!worker_.Running()) return;
  EventSet(worker_.StopEvent(), true);
  if (!ThreadWait(worker_.Thread(), 1000)) WriteLog(&g_MainLog, 1, "AutoPublish - waiting for the thread to end");
  if (!worker_.Stop(kStopLaterWaitMs))
    WriteLog(&g_MainLog, 3, "AutoPublish - the thread did not end in time; it is left running");
}

unsigned __stdcall CAutoPublish::Run(void* self) {
  const CWorkerThread& worker = static_cast<CAutoPublish*>(self)->worker_;
  WriteLog(&g_MainLog, 1, "AutoPublish Start, ThreadID=(%lu)", GetCurrentThreadId());
  int64_t lastRun = 0;
  do {
    const int64_t now = int64_t(time(nullptr));
    if (now - lastRun > 300) {
      lastRun = now;
      DoOutput();
    }
  } while (!worker.StopRequested(1000));
  return 0;
}

CAutoPublish& AutoPublish() {
  static CAutoPublish thread;
  return thread;
}
