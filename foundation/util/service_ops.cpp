// Service query and watchdog start.
#include "foundation/util/service_ops.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"

std::wstring QueryServiceInfo() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, L"ServicesActive", SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    printf("OpenSCManager failed (%d)\n", static_cast<int>(GetLastError()));
    return std::wstring();
  }
  std::wstring path;
  SC_HANDLE service = OpenServiceW(manager, L"Orchard Server", SERVICE_QUERY_CONFIG);
  if (service == nullptr) {
    printf("OpenService failed (%d)\n", static_cast<int>(GetLastError()));
  } else {
    std::vector<uint8_t> config(4096), description(4096);
    DWORD needed = 0;
    if (!QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()), 4096, &needed)) {
      printf("QueryServiceConfig failed (%d)\n", static_cast<int>(GetLastError()));
    } else {
      const auto* c = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data());
      if (c->lpBinaryPathName != nullptr) path = c->lpBinaryPathName;
      if (!QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, description.data(), 4096, &needed)) {
        printf("QueryServiceConfig failed (%d)\n", static_cast<int>(GetLastError()));
      }
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return path;
}

bool RunMonitor(const wchar_t* switchText, const std::function<void(const std::string&)>& log, HANDLE* process,
                MonitorCommandLine form) {
  if (process != nullptr) *process = nullptr;
  const std::wstring program = ModulePathOf(L"OrchardMon.exe");
  const std::wstring switchPart = switchText != nullptr ? switchText : L"";
  std::wstring commandLine;
  if (form == MonitorCommandLine::kSwitchOnly) {
    if (!PathExists(program.c_str())) return false;
    commandLine = switchPart;
  } else {
    // Quoted, so that a program directory with blanks cannot name another program.
    commandLine = L"\"" + program + L"\"" + switchPart;
  }
  if (log) log("Monitor " + WideToNarrow(commandLine, CP_ACP));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                      nullptr, &si, &pi)) {
    return false;
  }
  CloseHandle(pi.hThread);
  if (process != nullptr) {
    *process = pi.hProcess;
  } else {
    CloseHandle(pi.hProcess);
  }
  return true;
}
