// Thin wrappers over Windows events and threads.
#include "foundation/sync/event_thread.h"

#include <process.h>

#include <string>

HANDLE EventCreate(bool manualReset) {
  return CreateEventW(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr);
}

bool EventWait(HANDLE event, DWORD ms) {
  if (!HandlePresent(event)) return true;
  return WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
}

int EventWaitTwo(HANDLE first, HANDLE second, DWORD ms) {
  if (!HandlePresent(first)) return 1;
  HANDLE handles[2] = {first, second};
  DWORD count = HandlePresent(second) ? 2 : 1;
  DWORD r = WaitForMultipleObjectsEx(count, handles, FALSE, ms, TRUE);
  if (r == WAIT_OBJECT_0) return 1;
  if (count == 2 && r == WAIT_OBJECT_0 + 1) return 2;
  return 0;
}

void EventSet(HANDLE event, bool signalled) {
  if (!HandlePresent(event)) return;
  if (signalled)
    SetEvent(event);
  else
    ResetEvent(event);
}

void EventClose(HANDLE* event) {
  if (!event) return;
  HANDLE h = *event;
  *event = nullptr;
  if (HandlePresent(h)) CloseHandle(h);
}

HANDLE ThreadStart(ThreadProc procedure, void* argument) {
  uintptr_t h = _beginthreadex(nullptr, 0, procedure, argument, 0, nullptr);
  return reinterpret_cast<HANDLE>(h);
}

bool ThreadWait(HANDLE thread, DWORD ms) { return EventWait(thread, ms); }

bool ThreadExitCode(HANDLE thread, DWORD* code) {
  if (code) *code = 0;
  if (!code || !HandlePresent(thread)) return false;
  return GetExitCodeThread(thread, code) != FALSE;
}

void ThreadClose(HANDLE* thread) { EventClose(thread); }

void SetThreadName(const char* name) {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const SetDescription setDescription = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC p = kernel ? GetProcAddress(kernel, "SetThreadDescription") : nullptr;
    return reinterpret_cast<SetDescription>(reinterpret_cast<void*>(p));
  }();
  if (!setDescription || !name) return;
  int n = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (n <= 0) return;
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), n);
  setDescription(GetCurrentThread(), wide.c_str());
}
