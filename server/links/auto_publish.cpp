// The automatic-publish thread: DoOutput at start, then every 300 seconds.
#include "server/links/auto_publish.h"

#include <ctime>

#include "foundation/log/server_logs.h"
#include "server/links/links.h"

bool CAutoPublish::Start() { return worker_.Running() || worker_.Start(Run, this); }

void CAutoPublish::Stop() {
  if (!worker_.Running()) return;
  worker_.Stop(1000, kStopLaterWaitMs,
               MainLogStopLines("AutoPublish - waiting for the thread to end",
                                "AutoPublish - the thread did not end in time; it is left running"));
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
