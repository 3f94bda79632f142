// A program that installs the crash reporter as the three programs do and
// then fails in the way its argument names, for the crash-report end-to-end
// test: the faults that cannot be caused from outside a process.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <stdexcept>

#include "monitor/crash/crash_reporter.h"

namespace {

volatile int* g_nowhere = nullptr;

void Fault() { *g_nowhere = 1; }

// Started together, both threads fault at nearly the same moment.
HANDLE g_go = nullptr;
DWORD WINAPI FaultWhenTold(void*) {
  WaitForSingleObject(g_go, INFINITE);
  Fault();
  return 0;
}



}  // namespace

// Outside the anonymous namespace, so the compiler cannot know every class
// that overrides Pure and call the one it knows directly.
struct Base {
  Base() {}
  virtual ~Base() { CallPure(this); }
  virtual void Pure() = 0;
  // Through a function the compiler cannot see into, so the call goes
  // through the table while only the base part is left.
  static void CallPure(Base* self);
};
struct Derived : Base {
  void Pure() override {}
};
void (*volatile g_callPure)(Base*) = [](Base* self) { self->Pure(); };
void Base::CallPure(Base* self) { g_callPure(self); }

int wmain(int argc, wchar_t** argv) {
  InstallInvalidArgumentHandlers();
  InstallCrashReporter(0);
  std::printf("pid=%lu thread=%lu\n", GetCurrentProcessId(), GetCurrentThreadId());
  std::fflush(stdout);
  const wchar_t* what = argc >= 2 ? argv[1] : L"";
  if (wcscmp(what, L"fault") == 0) Fault();
  if (wcscmp(what, L"breakpoint") == 0) DebugBreak();
  if (wcscmp(what, L"terminate") == 0) throw std::runtime_error("nobody catches this");
  if (wcscmp(what, L"abort") == 0) std::abort();
  if (wcscmp(what, L"pure-call") == 0) {
    Base* object = new Derived;
    delete object;
  }
  if (wcscmp(what, L"invalid-parameter") == 0) {
    // The runtime's own wcscpy_s, which checks its arguments.
    using Copy = int(__cdecl*)(wchar_t*, size_t, const wchar_t*);
    auto copy = reinterpret_cast<Copy>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "wcscpy_s"));
    if (copy != nullptr) copy(nullptr, 0, L"x");
  }
  if (wcscmp(what, L"two-threads") == 0) {
    g_go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE threads[2];
    for (HANDLE& t : threads) {
      DWORD id = 0;
      t = CreateThread(nullptr, 0, FaultWhenTold, nullptr, 0, &id);
      std::printf("thread=%lu\n", id);
    }
    std::fflush(stdout);
    SetEvent(g_go);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
  }
  std::printf("no failure\n");
  return 0;
}
