// OrchardSvc's own version, the FTP service's program path and the watchdog start.
#include "server/app/program_info.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "foundation/log/server_logs.h"
#include "server/config/program_dir.h"

std::string ProgramVersionText() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size) {
    std::vector<unsigned char> block(size);
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoW(path, 0, size, block.data()) &&
        VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) && info &&
        length >= sizeof *info) {
      char text[64];
      std::snprintf(text, sizeof text, "%d.%d.%d.%d", int(HIWORD(info->dwFileVersionMS)),
                    int(LOWORD(info->dwFileVersionMS)), int(HIWORD(info->dwFileVersionLS)),
                    int(LOWORD(info->dwFileVersionLS)));
      return text;
    }
  }
  return "0.0.0.0";
}

std::wstring FtpServiceProgramPath() {
  // Connect rights are enough to read a service's configuration.
  SC_HANDLE manager = OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_CONNECT);
  if (!manager) return std::wstring();
  std::wstring path;
  SC_HANDLE service = OpenServiceW(manager, L"Orchard Server", SERVICE_QUERY_CONFIG);
  if (service) {
    std::vector<unsigned char> area(4096);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(area.data());
    if (QueryServiceConfigW(service, config, static_cast<DWORD>(area.size()), &needed) && config->lpBinaryPathName)
      path = config->lpBinaryPathName;
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return path;
}

void RunMonitor(const wchar_t* command) {
  std::wstring line = L"\"" + ProgramDir() + L"\\OrchardMon.exe\"" + (command ? command : L"");
  WriteLog(&g_MainLog, 1, "Monitor %s", LogText(line).c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  std::vector<wchar_t> writable(line.begin(), line.end());
  writable.push_back(L'\0');
  if (CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}
