// The watch record, the watch thread and its start and stop.
#include "monitor/service/server_watch.h"

#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <new>

#include "foundation/sync/locks.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"
#include "monitor/service/codec/monitor_action.h"
#include "monitor/service/monitor_log.h"

namespace {

constexpr wchar_t kServerImage[] = L"OrchardSvc.exe";
constexpr DWORD kWatchStopWaitMs = 5000;

// Guards the record pointer, the stopped flag, and the step from "not stopped"
// to "server started", so a stop either comes before a start or after it.
CLock g_watchLock;
WatchRecord* g_watch = nullptr;
bool g_watchStopped = false;

bool Signalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

// Starts the target unless the watch was stopped. The handle, or null with
// stopped telling why.
HANDLE StartServer(WatchRecord* record, bool* stopped) {
  CLockGuard lock(g_watchLock);
  *stopped = Signalled(record->stopEvent);
  if (*stopped) return nullptr;
  // The path is quoted and also given as the program, so that a directory
  // with blanks cannot name another program.
  std::wstring commandLine = std::wstring(L"\"") + record->targetPath + L"\" /start";
  // The server's own folder is its current one: a service's is the system's,
  // where the server's relative files ("tcpserver.log", the P2P core's
  // "./ipdata/iplist.dat") would be written, or not found.
  const std::wstring target = record->targetPath;
  const size_t slash = target.find_last_of(L'\\');
  const std::wstring folder = slash != std::wstring::npos ? target.substr(0, slash) : std::wstring();
  WriteMonitorLog(1, "Create process %s", WideToNarrow(commandLine, CP_ACP).c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(record->targetPath, commandLine.data(), nullptr, nullptr, TRUE, NORMAL_PRIORITY_CLASS, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &process)) {
    WriteMonitorLog(3, "Create process error %ld", static_cast<long>(GetLastError()));
    return nullptr;
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

void WatchServer(WatchRecord* record) {
  RestartPacing pacing;
  for (;;) {
    HANDLE process = FindServerProcess();
    bool started = false;
    ULONGLONG startTick = 0;
    if (process == nullptr) {
      bool stopped = false;
      process = StartServer(record, &stopped);
      if (stopped) {
        WriteMonitorLog(1, "Stop server");
        return;
      }
      if (process == nullptr) return;  // not tried again until the service restarts
      started = true;
      startTick = GetTickCount64();
    }
    record->serverProcess = process;
    record->waitPair[1] = process;
    DWORD waited = WaitForMultipleObjects(2, record->waitPair, FALSE, INFINITE);
    const DWORD error = GetLastError();
    // The handle is closed on every path, found or started: nothing leaks
    // across restarts.
    record->serverProcess = nullptr;
    record->waitPair[1] = nullptr;
    CloseHandle(process);
    uint32_t pause = kRestartPauseMs;
    if (waited == WAIT_OBJECT_0) {
      WriteMonitorLog(1, "Stop server");
      return;
    } else if (waited == WAIT_OBJECT_0 + 1) {
      WriteMonitorLog(1, "Process already exit");
      // A server found running had a run of unknown length: counted as long.
      const ULONGLONG ran = started ? GetTickCount64() - startTick : kQuickExitMs;
      const uint32_t runMs = ran < 0xFFFFFFFFu ? static_cast<uint32_t>(ran) : 0xFFFFFFFFu;
      pause = pacing.NextPause(runMs);
      if (pause > kRestartPauseMs) {
        WriteMonitorLog(3, "Process exited after %lu ms, next start in %lu ms", static_cast<unsigned long>(runMs),
                        static_cast<unsigned long>(pause));
      }
    } else {
      WriteMonitorLog(3, "WAIT_FAILED - %d", static_cast<int>(error));
    }
    // The pause ends early on a stop.
    if (WaitForSingleObject(record->stopEvent, pause) == WAIT_OBJECT_0) {
      WriteMonitorLog(1, "Stop server");
      return;
    }
  }
}

DWORD WINAPI WatchServerThread(void* parameter) {
  auto* record = static_cast<WatchRecord*>(parameter);
  if (record == nullptr) {
    WriteMonitorLog(3, "Parma is NULL");
    return 0;
  }
  WatchServer(record);
  // The last touch of the record: from here on it may be freed.
  CLockGuard lock(g_watchLock);
  record->idle = 1;
  return 0;
}

bool StartWatchThread(WatchRecord* record) {
  if (record->watchThread != nullptr) return true;
  HANDLE thread = CreateThread(nullptr, 0, WatchServerThread, record, CREATE_SUSPENDED, nullptr);
  if (thread == nullptr) return false;
  record->watchThread = thread;
  record->idle = 0;
  SetThreadPriority(thread, THREAD_PRIORITY_BELOW_NORMAL);
  ResumeThread(thread);
  return true;
}

}  // namespace

std::wstring GetModuleDirPath(const wchar_t* name) {
  std::wstring path = ModulePathOf(name);
  if (GetModuleDir(nullptr).empty() || path.size() >= MAX_PATH) return std::wstring();
  return path;
}

bool AllocateWatchRecord() {
  auto* record = new (std::nothrow) WatchRecord{};
  if (record == nullptr) return false;
  record->idle = 1;
  CLockGuard lock(g_watchLock);
  g_watch = record;
  return true;
}

void FreeWatchRecord() {
  const bool ended = StopWatchThread();
  WatchRecord* record;
  {
    CLockGuard lock(g_watchLock);
    record = g_watch;
    g_watch = nullptr;
  }
  // A watch thread that did not end still holds the record: it is left to it.
  if (ended && record != nullptr) {
    if (record->stopEvent != nullptr) CloseHandle(record->stopEvent);
    delete record;
  }
}

bool StartMonitor() {
  const std::wstring logPath = GetModuleDirPath(L"od_monitor.Log");
  if (!logPath.empty()) OpenMonitorLog(logPath, 1);
  WriteMonitorLog(1, "Start...");

  CLockGuard lock(g_watchLock);
  WatchRecord* record = g_watch;
  if (record == nullptr || g_watchStopped) return false;
  if (record->targetPath[0] == 0) {
    const std::wstring target = GetModuleDirPath(kServerImage);
    if (target.empty()) {
      WriteMonitorLog(3, "error - GetModuleFile");
      return false;
    }
    wcscpy(record->targetPath, target.c_str());
  }
  if (!PathFileExistsW(record->targetPath)) {
    WriteMonitorLog(3, "Does not exist - %s", WideToNarrow(record->targetPath, CP_ACP).c_str());
    return false;
  }
  WriteMonitorLog(1, "Monitor %s", WideToNarrow(record->targetPath, CP_ACP).c_str());
  if (record->stopEvent == nullptr) {
    record->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (record->stopEvent == nullptr) return false;
  }
  record->waitPair[0] = record->stopEvent;
  return StartWatchThread(record);
}

bool StopWatchThread() {
  HANDLE thread = nullptr;
  WatchRecord* record;
  {
    CLockGuard lock(g_watchLock);
    g_watchStopped = true;
    record = g_watch;
    if (record == nullptr) return true;
    if (record->stopEvent != nullptr) SetEvent(record->stopEvent);
    thread = record->watchThread;
    record->watchThread = nullptr;
  }
  if (thread != nullptr) {
    WaitForSingleObject(thread, kWatchStopWaitMs);
    CloseHandle(thread);
  }
  CLockGuard lock(g_watchLock);
  // A watch that did not end in time may still wait on the event: it stays.
  if (record->idle != 0 && record->stopEvent != nullptr) {
    CloseHandle(record->stopEvent);
    record->stopEvent = nullptr;
    record->waitPair[0] = nullptr;
  }
  return record->idle != 0;
}

HANDLE FindServerProcess() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE found = nullptr;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  const size_t nameLength = wcslen(kServerImage);
  for (BOOL more = Process32FirstW(snapshot, &entry); more && found == nullptr;
       more = Process32NextW(snapshot, &entry)) {
    if (wcsncmp(entry.szExeFile, kServerImage, nameLength) != 0) continue;
    found = OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return found;
}
