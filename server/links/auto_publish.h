// CAutoPublish: the automatic-publish thread, which writes the last-published
// link files when it starts and then every five minutes.
#pragma once
#include "foundation/sync/worker_thread.h"

class CAutoPublish {
 public:
  ~CAutoPublish() = default;  // stopped by the stop sequence
  // Starts the thread once; false when it cannot be started.
  bool Start();
  // Sets the stop event and waits up to 1000 ms for the thread, which looks
  // at it every second, then kStopLaterWaitMs more (logged) for a DoOutput
  // of a long link log; a thread still running after that is left running,
  // logged, with what it uses kept.
  void Stop();
  static constexpr DWORD kStopLaterWaitMs = 5000;

 private:
  static unsigned __stdcall Run(void* self);
  CWorkerThread worker_;
};

CAutoPublish& AutoPublish();
