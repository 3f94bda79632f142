// Test aid: ends a running program from outside with TerminateProcess, as a
// task manager does. terminate_program.exe <full path of the program> [exit code]
// Exit 0 when a process of that file was terminated, 1 when none runs, 2 on bad use.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fwprintf(stderr, L"usage: terminate_program.exe PATH [EXIT-CODE]\n");
    return 2;
  }
  const UINT code = argc > 2 ? UINT(std::wcstoul(argv[2], nullptr, 10)) : 9;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return 2;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  int ended = 0;
  for (BOOL more = Process32FirstW(snap, &entry); more; more = Process32NextW(snap, &entry)) {
    HANDLE h = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (!h) continue;
    wchar_t image[MAX_PATH * 2] = {};
    DWORD n = MAX_PATH * 2;
    if (QueryFullProcessImageNameW(h, 0, image, &n) &&
        CompareStringOrdinal(image, -1, argv[1], -1, TRUE) == CSTR_EQUAL && TerminateProcess(h, code)) {
      ++ended;
    }
    CloseHandle(h);
  }
  CloseHandle(snap);
  return ended ? 0 : 1;
}
