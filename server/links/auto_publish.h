// CAutoPublish: the automatic-publish thread, which writes the last-published
// link files when it starts and then every five minutes.
#pragma once
#include <windows.h>

class CAutoPublish {
 public:
  ~CAutoPublish() { Stop(); }
  // Starts the thread once; false when it cannot be started.
  bool Start();
  // Sets the stop event and waits for the thread (it checks the event every second).
  void Stop();

 private:
  static DWORD WINAPI Run(void* self);
  HANDLE stop_ = nullptr;
  HANDLE thread_ = nullptr;
};

CAutoPublish& AutoPublish();
