// Looks at and acts on the Wine prefix's processes and services from outside,
// for the watchdog and crash-report end-to-end tests. One action per run,
// results on stdout. Started under another name it stands in for a program:
// as "faultpost.exe" a reporter that never ends, as "OrchardSvc.exe" a
// server that ends at once; both note each start in "<name>.starts".
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring OwnPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring FileName(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

void NoteStart(const std::wstring& path) {
  FILE* f = _wfopen((path + L".starts").c_str(), L"ab");
  if (f == nullptr) return;
  std::fprintf(f, "pid=%lu tick=%llu cmdline=%ls\n", GetCurrentProcessId(),
               static_cast<unsigned long long>(GetTickCount64()), GetCommandLineW());
  std::fclose(f);
}

std::vector<DWORD> Pids(const wchar_t* image) {
  std::vector<DWORD> pids;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return pids;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, image) == 0) pids.push_back(entry.th32ProcessID);
  }
  CloseHandle(snapshot);
  return pids;
}

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    default: return "OTHER";
  }
}

int ServiceState(const wchar_t* name) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, name, SERVICE_QUERY_STATUS) : nullptr;
  SERVICE_STATUS status{};
  if (service == nullptr) {
    std::printf("state=MISSING\n");
  } else if (QueryServiceStatus(service, &status)) {
    std::printf("state=%s exit=%lu\n", StateName(status.dwCurrentState), status.dwWin32ExitCode);
  } else {
    std::printf("state=UNKNOWN error=%lu\n", GetLastError());
  }
  if (service != nullptr) CloseServiceHandle(service);
  if (manager != nullptr) CloseServiceHandle(manager);
  return 0;
}

// Kills the first process of the image and times how long until another of
// that image exists.
int RestartTime(const wchar_t* image, DWORD timeoutMs) {
  std::vector<DWORD> before = Pids(image);
  if (before.empty()) {
    std::printf("killed=none\n");
    return 1;
  }
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, before[0]);
  if (process == nullptr) {
    std::printf("killed=none error=%lu\n", GetLastError());
    return 1;
  }
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  TerminateProcess(process, 9);
  QueryPerformanceCounter(&start);
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
  for (;;) {
    QueryPerformanceCounter(&now);
    const double ms = (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
    for (DWORD pid : Pids(image)) {
      if (pid != before[0]) {
        std::printf("killed=%lu restarted=%lu ms=%.1f\n", before[0], pid, ms);
        return 0;
      }
    }
    if (ms > timeoutMs) {
      std::printf("killed=%lu restarted=none ms=%.1f\n", before[0], ms);
      return 1;
    }
    Sleep(2);
  }
}

// The number of handles the first process of the image holds.
int Handles(const wchar_t* image) {
  std::vector<DWORD> pids = Pids(image);
  HANDLE process = pids.empty() ? nullptr : OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, pids[0]);
  DWORD count = 0;
  if (process == nullptr || !GetProcessHandleCount(process, &count)) {
    std::printf("handles=unknown\n");
    if (process != nullptr) CloseHandle(process);
    return 1;
  }
  CloseHandle(process);
  std::printf("handles=%lu\n", count);
  return 0;
}

int Kill(const wchar_t* image) {
  for (DWORD pid : Pids(image)) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) continue;
    TerminateProcess(process, 9);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
    std::printf("%lu\n", pid);
  }
  return 0;
}

// A thread in the other process that loads known values into the low halves
// of six registers and then reads address 8 (or hits a breakpoint).
int Crash(DWORD pid, bool breakpoint) {
  static const unsigned char kFault[] = {
      0xB8, 0x11, 0x11, 0x11, 0x11,                    // mov eax, 0x11111111
      0xBB, 0x22, 0x22, 0x22, 0x22,                    // mov ebx, 0x22222222
      0xB9, 0x33, 0x33, 0x33, 0x33,                    // mov ecx, 0x33333333
      0xBA, 0x44, 0x44, 0x44, 0x44,                    // mov edx, 0x44444444
      0xBE, 0x55, 0x55, 0x55, 0x55,                    // mov esi, 0x55555555
      0xBF, 0x66, 0x66, 0x66, 0x66,                    // mov edi, 0x66666666
      0x48, 0x8B, 0x04, 0x25, 0x08, 0x00, 0x00, 0x00,  // mov rax, [8]
      0xC3,
  };
  static const unsigned char kBreakpoint[] = {0xCC, 0xC3};  // int3; ret
  const unsigned char* code = breakpoint ? kBreakpoint : kFault;
  const size_t size = breakpoint ? sizeof kBreakpoint : sizeof kFault;
  const size_t faultOffset = breakpoint ? 0 : 30;
  HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
  if (process == nullptr) {
    std::printf("error=open %lu\n", GetLastError());
    return 1;
  }
  void* remote = VirtualAllocEx(process, nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  SIZE_T written = 0;
  if (remote == nullptr || !WriteProcessMemory(process, remote, code, size, &written) || written != size) {
    std::printf("error=write %lu\n", GetLastError());
    return 1;
  }
  FlushInstructionCache(process, remote, size);
  DWORD thread = 0;
  HANDLE handle = CreateRemoteThread(process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(remote), nullptr,
                                     0, &thread);
  if (handle == nullptr) {
    std::printf("error=thread %lu\n", GetLastError());
    return 1;
  }
  std::printf("thread=%lu address=0x%llx\n", thread,
              static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(remote) + faultOffset));
  CloseHandle(handle);
  CloseHandle(process);
  return 0;
}

// The visible top-level windows of a process, asked of no window (a window
// whose thread is suspended would not answer).
int Windows(DWORD pid) {
  struct Count {
    DWORD pid;
    int visible;
  } count{pid, 0};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* c = reinterpret_cast<Count*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == c->pid && IsWindowVisible(window)) ++c->visible;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  std::printf("windows=%d\n", count.visible);
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "monitor_probe service-state NAME | service-start NAME | pids IMAGE | kill IMAGE | handles IMAGE |\n"
               "  restart-time IMAGE TIMEOUT_MS | crash PID fault|breakpoint | windows PID\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring self = OwnPath();
  const std::wstring name = FileName(self);
  if (_wcsicmp(name.c_str(), L"faultpost.exe") == 0) {
    NoteStart(self);
    Sleep(INFINITE);
  }
  if (_wcsicmp(name.c_str(), L"OrchardSvc.exe") == 0) {
    NoteStart(self);
    return 0;
  }
  if (argc < 3) return Usage();
  const std::wstring action = argv[1];
  if (action == L"service-state") return ServiceState(argv[2]);
  if (action == L"service-start") {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr ? OpenServiceW(manager, argv[2], SERVICE_START) : nullptr;
    DWORD error = service == nullptr ? GetLastError() : (StartServiceW(service, 0, nullptr) ? 0 : GetLastError());
    std::printf("error=%lu\n", error);
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return 0;
  }
  if (action == L"pids") {
    for (DWORD pid : Pids(argv[2])) std::printf("%lu\n", pid);
    return 0;
  }
  if (action == L"kill") return Kill(argv[2]);
  if (action == L"handles") return Handles(argv[2]);
  if (action == L"windows") return Windows(static_cast<DWORD>(_wtoi(argv[2])));
  if (action == L"restart-time" && argc >= 4) return RestartTime(argv[2], static_cast<DWORD>(_wtoi(argv[3])));
  if (action == L"crash" && argc >= 4) return Crash(static_cast<DWORD>(_wtoi(argv[2])), wcscmp(argv[3], L"breakpoint") == 0);
  return Usage();
}
