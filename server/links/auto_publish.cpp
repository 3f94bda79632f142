// The automatic-publish thread: DoOutput at start, then every 300 seconds.
#include "server/links/auto_publish.h"

#include <ctime>

#include "foundation/log/server_logs.h"
#include "server/links/links.h"

bool CAutoPublish::Start() {
  if (thread_) return true;
  if (!stop_) stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!stop_) return false;
  ResetEvent(stop_);
  thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  return thread_ != nullptr;
}

void CAutoPublish::Stop() {
  if (stop_) SetEvent(stop_);
  if (thread_) {
    // DoOutput is bounded by the size of the link log; the thread looks at
    // the event every second, so it is waited for before its event goes.
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    thread_ = nullptr;
  }
  if (stop_) {
    CloseHandle(stop_);
    stop_ = nullptr;
  }
}

DWORD WINAPI CAutoPublish::Run(void* self) {
  auto* me = static_cast<CAutoPublish*>(self);
  WriteLog(&g_MainLog, 1, "AutoPublish Start, ThreadID=(%lu)", GetCurrentThreadId());
  int64_t lastRun = 0;
  for (;;) {
    const int64_t now = int64_t(time(nullptr));
    if (now - lastRun > 300) {
      lastRun = now;
      DoOutput();
    }
    if (WaitForSingleObject(me->stop_, 1000) == WAIT_OBJECT_0) break;
  }
  return 0;
}

CAutoPublish& AutoPublish() {
  static CAutoPublish thread;
  return thread;
}
