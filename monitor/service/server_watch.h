// The watch of the monitor service: finds the running OrchardSvc or starts
// "OrchardSvc.exe /start" from OrchardMon's own directory, waits for it to
// end and starts it again, until the service stops. It never ends the server.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// The watch record: one per service run, allocated by the service worker.
struct WatchRecord {
  wchar_t targetPath[MAX_PATH];  // OrchardSvc.exe beside OrchardMon; empty until the watch fills it
  HANDLE waitPair[2];            // the stop event, then the server process
  HANDLE stopEvent;              // manual reset
  HANDLE watchThread;
  HANDLE serverProcess;          // owned by the watch thread while it waits
  uint32_t idle;                 // 1 at allocation and after a stop, 0 while the watch runs
};

// Allocates the record; false when it cannot be had.
bool AllocateWatchRecord();
// Stops the watch when it runs and frees the record.
void FreeWatchRecord();

// Opens the log, finds the target and starts the watch thread. False when the
// target is missing, an event or the thread cannot be made, or the watch was
// stopped already (a stop that came first is not undone).
bool StartMonitor();
// Sets the stop event, waits for the watch thread (at most 5000 ms) and
// closes its handles. From then on no watch starts in this process. False
// when the watch thread did not end in time (it keeps the record).
bool StopWatchThread();

// The first process whose image name begins with "OrchardSvc.exe" and that
// opens with full access; null when there is none.
HANDLE FindServerProcess();
// OrchardMon's directory + "\" + name; empty when it does not fit in 260 units.
std::wstring GetModuleDirPath(const wchar_t* name);
