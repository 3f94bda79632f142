// CAutoPublish: the automatic-publish thread, which writes the last-published
// link files when it starts and then every five minutes.
#pragma once
#include "foundation/sync/worker_thread.h"

class CAutoPublish {
 public:
  ~CAutoPublish() { Stop(); }
  // Starts the thread once; false when it cannot be started.
  bool Start();
  // Sets the stop event and waits for the thread, which looks at it every
  // second, so nothing it uses goes away under it.
  void Stop() { worker_.Stop(INFINITE); }

 private:
  static unsigned __stdcall Run(void* self);
  CWorkerThread worker_;
};

CAutoPublish& AutoPublish();
