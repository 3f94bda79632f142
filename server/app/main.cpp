// OrchardSvc's entry: brings up the process-wide services in order, runs the
// hidden controller window's message loop, and takes everything down again.
#include <windows.h>
#include <winsock2.h>
#include <commctrl.h>
#include <objbase.h>


#include "foundation/log/server_logs.h"
#include "foundation/sync/worker_thread.h"
#include "foundation/util/module_info.h"
#include "foundation/util/path_ops.h"
#include "monitor/crash/crash_reporter.h"
#include "server/app/server.h"
#include "server/config/svr_config.h"

namespace {

constexpr wchar_t kInstanceMutex[] = L"Global\\12ECBFA2-2DFD-4c3f-9D65-34BC61AB1182";

// Exit codes for a start that cannot serve anyone.
constexpr int kExitWinsock = 2;
constexpr int kExitNoWindow = 3;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  CoInitialize(nullptr);

  // One instance per machine; a second start leaves at once, without a trace.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kInstanceMutex);
  DWORD mutexError = GetLastError();
  if (!mutex || mutexError == ERROR_ALREADY_EXISTS || mutexError == ERROR_ACCESS_DENIED) {
    if (mutex) CloseHandle(mutex);
    CoUninitialize();
    return 0;
  }

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  InstallInvalidArgumentHandlers();
  InstallCrashReporter(0);

  // The main log opens first so the configuration's own lines are kept; its
  // configured threshold applies from then on.
  const std::wstring dir = GetModuleDir(nullptr);
  g_MainLog.Open((dir + L"\\od_server.Log").c_str(), 0, true);
  g_SvrConfig.Load();
  g_MainLog.SetThreshold(static_cast<uint32_t>(g_SvrConfig.logLevel < 0 ? 0 : g_SvrConfig.logLevel));
  g_LinkLog.Open((dir + L"\\PublishList.Log").c_str(), kLinkLogLevel, true);

  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    g_LinkLog.Close();
    g_MainLog.Close();
    CoUninitialize();
    return kExitWinsock;
  }

  std::string version = GetModuleVersionText(nullptr);
  WriteLog(&g_MainLog, 1, "OrchardService(Version:%s) startup", version.c_str());

  g_Server = new CServer();
  g_Server->SetVersionText(version);
  int created = g_Server->Create(instance);
  int exitCode = 0;
  if (created == CServer::kCreated) {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
    exitCode = static_cast<int>(msg.wParam);
  } else {
    // Without its window nothing can run: leave instead of holding the
    // mutex. The configuration is not written back, so a first start that
    // failed still finds no file next time.
    exitCode = kExitNoWindow;
  }

  if (ThreadsLeftRunning() > 0) {
    // A thread outlived its stop: tearing down under it (Winsock, the logs,
    // the program's objects) would crash it. Save, then end at once.
    if (created == CServer::kCreated) g_SvrConfig.Save();
    WriteLog(&g_MainLog, 3, "Exit with %d thread(s) left running", ThreadsLeftRunning());
    TerminateProcess(GetCurrentProcess(), UINT(exitCode));
  }
  delete g_Server;
  g_Server = nullptr;
  WSACleanup();
  if (created == CServer::kCreated) g_SvrConfig.Save();
  g_LinkLog.Close();
  g_MainLog.Close();
  CloseHandle(mutex);
  CoUninitialize();
  return exitCode;
}
