// The service side of OrchardMon: ServiceMain reports its way to RUNNING,
// the worker keeps the watch until the running flag drops, and every path
// out of the worker sets the finished event, so the service always reaches
// SERVICE_STOPPED.
#include "monitor/service/monitor_service.h"

#include <atomic>

#include "monitor/service/monitor_log.h"
#include "monitor/service/server_watch.h"

namespace {

constexpr DWORD kWorkerPollMs = 1000;

SERVICE_STATUS_HANDLE g_statusHandle = nullptr;
HANDLE g_finished = nullptr;
HANDLE g_worker = nullptr;
std::atomic<uint32_t> g_running{0};
std::atomic<DWORD> g_lastState{SERVICE_STOPPED};

DWORD WINAPI ServiceWorkerThread(void*) {
  if (AllocateWatchRecord()) {
    // A stop that came before this point has cleared the flag and barred the
    // watch: StartMonitor then starts nothing.
    if (g_running.load() != 0) StartMonitor();
  }
  // Also without a watch (no server program, no record) the service stays
  // until it is stopped, and then ends like any other.
  while (g_running.load() != 0) Sleep(kWorkerPollMs);
  FreeWatchRecord();
  CloseMonitorLog();
  SetEvent(g_finished);
  return 0;
}

bool StartServiceWorker() {
  // The flag is up before the worker can look at it.
  g_running.store(1);
  g_worker = CreateThread(nullptr, 0, ServiceWorkerThread, nullptr, 0, nullptr);
  if (g_worker == nullptr) g_running.store(0);
  return g_worker != nullptr;
}

void StopService() {
  WriteMonitorLog(1, "Stop...");
  StopWatchThread();
  g_running.store(0);
}

}  // namespace

bool RunServiceDispatcher() {
  static wchar_t name[] = L"orchard_server_monitor";
  SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherW(table) != FALSE;
}

bool ReportServiceStatus(DWORD state, DWORD waitHint, DWORD checkPoint, DWORD exitCode) {
  g_lastState.store(state);
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  status.dwWin32ExitCode = exitCode;
  status.dwServiceSpecificExitCode = 0;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHint;
  if (SetServiceStatus(g_statusHandle, &status)) return true;
  StopService();
  return false;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  g_statusHandle = RegisterServiceCtrlHandlerW(kMonitorServiceName, ServiceCtrlHandler);
  if (g_statusHandle == nullptr) return;
  ReportServiceStatus(SERVICE_START_PENDING, 3000, 1);
  g_finished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (g_finished == nullptr) {
    ReportServiceStatus(SERVICE_STOPPED, 0, 0, GetLastError());
    return;
  }
  ReportServiceStatus(SERVICE_START_PENDING, 1000, 2);
  if (!StartServiceWorker()) {
    const DWORD error = GetLastError();
    CloseHandle(g_finished);
    g_finished = nullptr;
    ReportServiceStatus(SERVICE_STOPPED, 0, 0, error);
    return;
  }
  ReportServiceStatus(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(g_finished, INFINITE);
  CloseHandle(g_finished);
  g_finished = nullptr;
  WaitForSingleObject(g_worker, INFINITE);
  CloseHandle(g_worker);
  g_worker = nullptr;
  ReportServiceStatus(SERVICE_STOPPED, 0, 0);
}

void WINAPI ServiceCtrlHandler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    ReportServiceStatus(SERVICE_STOP_PENDING, 3000, 1);
    StopService();
    return;
  }
  ReportServiceStatus(g_lastState.load(), 0, 0);
}
