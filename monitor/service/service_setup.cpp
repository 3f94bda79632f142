// The install, start, stop and removal of the monitor service and the
// questions that lead to them.
#include "monitor/service/service_setup.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

#include "monitor/service/monitor_service.h"

namespace {

// Owns one service-manager handle.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  SC_HANDLE handle_;
};

bool Ask(const wchar_t* question) {
  return MessageBoxW(nullptr, question, L"Question", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

int Install(DWORD startType) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) return 1;
  wchar_t own[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    MessageBoxW(nullptr, L"Failed to get own executable path", L"Could not install server", MB_OK | MB_ICONERROR);
    return 1;
  }
  const std::wstring binaryPath = std::wstring(L"\"") + own + L"\"";
  ScHandle service(CreateServiceW(manager.get(), kMonitorServiceName, kMonitorServiceName, SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS, startType,
                                  SERVICE_ERROR_NORMAL, binaryPath.c_str(), nullptr, nullptr, nullptr, nullptr,
                                  nullptr));
  return service ? 0 : 1;
}

// Runs one call on the service opened with full access.
template <typename Call>
int WithService(DWORD managerAccess, Call call) {
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, managerAccess));
  if (!manager) return 1;
  ScHandle service(OpenServiceW(manager.get(), kMonitorServiceName, SERVICE_ALL_ACCESS));
  if (!service) return 1;
  call(service.get());
  return 0;
}

int Start() {
  return WithService(SC_MANAGER_ALL_ACCESS, [](SC_HANDLE s) { StartServiceW(s, 0, nullptr); });
}

int Stop() {
  return WithService(SC_MANAGER_ALL_ACCESS, [](SC_HANDLE s) {
    SERVICE_STATUS status{};
    ControlService(s, SERVICE_CONTROL_STOP, &status);
  });
}

int Uninstall() {
  return WithService(SC_MANAGER_CREATE_SERVICE, [](SC_HANDLE s) { DeleteService(s); });
}

int AskStartOrUninstall() {
  if (Ask(L"Start server?")) return Start();
  if (Ask(L"Uninstall Service?")) return Uninstall();
  return 0;
}

// True when the service control manager started this process. Windows
// reports a starting service START_PENDING; Wine reports it STOPPED until
// its process has reached the dispatcher, so the parent tells it there.
bool StartedByServiceManager() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  const DWORD self = GetCurrentProcessId();
  DWORD parent = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == self) parent = entry.th32ParentProcessID;
  }
  bool manager = false;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && parent != 0; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ProcessID == parent) manager = _wcsicmp(entry.szExeFile, L"services.exe") == 0;
  }
  CloseHandle(snapshot);
  return manager;
}

// The service's state as the switch table sees it; starting is set when the
// service control manager is starting it.
bool QueryCondition(ServiceCondition* condition, bool* starting) {
  *condition = ServiceCondition::kNotInstalled;
  *starting = false;
  ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return false;
  ScHandle service(OpenServiceW(manager.get(), kMonitorServiceName, GENERIC_READ));
  if (!service) return true;
  SERVICE_STATUS status{};
  const bool known = QueryServiceStatus(service.get(), &status) != FALSE;
  *starting = known && (status.dwCurrentState == SERVICE_START_PENDING ||
                        (status.dwCurrentState == SERVICE_STOPPED && StartedByServiceManager()));
  *condition = known && status.dwCurrentState == SERVICE_STOPPED ? ServiceCondition::kStopped
                                                                 : ServiceCondition::kOther;
  return true;
}

}  // namespace

int RunMonitorCommand(MonitorSwitch action) {
  ServiceCondition condition;
  bool starting;
  if (!QueryCondition(&condition, &starting)) return 0;
  if (starting) {
    if (!RunServiceDispatcher()) {
      wchar_t text[96];
      swprintf(text, 96, L"StartServiceCtrlDispatcher failed with error %d", static_cast<int>(GetLastError()));
      MessageBoxW(nullptr, text, L"Error while starting service", MB_OK);
    }
    return 0;
  }
  switch (ChooseMonitorStep(condition, action)) {
    case MonitorStep::kNothing:
      return 0;
    case MonitorStep::kAskInstall:
      if (!Ask(L"Install Service?")) return 0;
      if (Install(Ask(L"Autostart service?") ? SERVICE_AUTO_START : SERVICE_DEMAND_START) != 0) return 1;
      return AskStartOrUninstall();
    case MonitorStep::kInstall:
      return Install(SERVICE_DEMAND_START);
    case MonitorStep::kInstallAuto:
      return Install(SERVICE_AUTO_START);
    case MonitorStep::kAskStart:
      return AskStartOrUninstall();
    case MonitorStep::kStart:
      return Start();
    case MonitorStep::kUninstall:
      return Uninstall();
    case MonitorStep::kAskStop:
      return Ask(L"Stop Server?") ? Stop() : 0;
    case MonitorStep::kStop:
      return Stop();
  }
  return 0;
}
