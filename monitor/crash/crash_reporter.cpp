// The crash reporter: the unhandled-exception filter, the terminate and abort
// hooks, the record and the hand-over to the reporting program.
#include "monitor/crash/crash_reporter.h"

#include <tlhelp32.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>
#include <stdexcept>

#include "monitor/crash/codec/crash_record.h"
#include "monitor/crash/sharing_memory.h"

namespace {

constexpr size_t kPathUnits = MAX_PATH + 32;
constexpr size_t kMaxSuspended = 4096;

// Everything a crash needs is made at installation, so that the report
// allocates as little as it can in a process that may have broken its heap.
struct ReporterState {
  LPTOP_LEVEL_EXCEPTION_FILTER previousFilter;
  uintptr_t moduleFilter;
  VXExceptionContext record;
  wchar_t reporterPath[kPathUnits];
  wchar_t memoryName[64];
};
ReporterState g_state;

// The thread that is reporting (0 none) and whether a report was taken.
std::atomic<DWORD> g_reportingThread{0};
std::atomic<bool> g_reported{false};

// The threads SuspendOtherThreads suspended, for the resume.
HANDLE g_suspended[kMaxSuspended];
size_t g_suspendedCount = 0;

Amd64Registers RegistersOf(const CONTEXT& c) {
  Amd64Registers r{};
  r.rax = c.Rax;
  r.rbx = c.Rbx;
  r.rcx = c.Rcx;
  r.rdx = c.Rdx;
  r.rsi = c.Rsi;
  r.rdi = c.Rdi;
  r.rbp = c.Rbp;
  r.rsp = c.Rsp;
  r.rip = c.Rip;
  r.eflags = c.EFlags;
  r.segCs = c.SegCs;
  r.segDs = c.SegDs;
  r.segEs = c.SegEs;
  r.segFs = c.SegFs;
  r.segGs = c.SegGs;
  r.segSs = c.SegSs;
  r.dr0 = c.Dr0;
  r.dr1 = c.Dr1;
  r.dr2 = c.Dr2;
  r.dr3 = c.Dr3;
  r.dr6 = c.Dr6;
  r.dr7 = c.Dr7;
  static_assert(sizeof c.FltSave == sizeof r.fxsave);
  std::memcpy(r.fxsave, &c.FltSave, sizeof r.fxsave);
  return r;
}

bool Readable(const void* address, size_t size) {
  MEMORY_BASIC_INFORMATION info{};
  if (VirtualQuery(address, &info, sizeof info) != sizeof info || info.State != MEM_COMMIT) return false;
  if ((info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
  const auto end = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  return reinterpret_cast<uintptr_t>(address) + size <= end;
}

// Waits while another thread reports; true when a report was taken meanwhile.
bool WaitForOtherReport() {
  const ULONGLONG deadline = GetTickCount64() + kReporterWaitMs + 10000;
  while (g_reportingThread.load() != 0 && GetTickCount64() < deadline) Sleep(10);
  return g_reported.load() || g_reportingThread.load() != 0;
}

// ReportCrash, at most once per process and never recursively. 1: reported
// (or to be ended as if it were), 0: pass the crash on.
int ReportOnce(EXCEPTION_POINTERS* pointers) {
  const DWORD self = GetCurrentThreadId();
  for (;;) {
    DWORD owner = 0;
    if (g_reportingThread.compare_exchange_strong(owner, self)) break;
    if (owner == self) return 1;  // a fault inside our own report: end, do not start another
    if (WaitForOtherReport()) return 1;
  }
  int result = 1;
  if (!g_reported.load()) {
    result = ReportCrash(pointers);
    if (result != 0) g_reported.store(true);
  }
  g_reportingThread.store(0);
  return result;
}

// abort, and std::terminate through it: a record of the present thread's
// state with the fatal-exit code, then the runtime ends the process.
void OnAbortSignal(int) {
  CONTEXT context{};
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record{};
  record.ExceptionCode = kAbortExceptionCode;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers{&record, &context};
  ReportOnce(&pointers);
}

void OnTerminate() {
  // What the runtime's own handler would have said, on standard error.
  const char* what = nullptr;
  if (std::exception_ptr current = std::current_exception()) {
    try {
      std::rethrow_exception(current);
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
  }
  if (what != nullptr) {
    std::fprintf(stderr, "terminate called after an exception: %s\n", what);
  } else {
    std::fprintf(stderr, "terminate called\n");
  }
  std::fflush(stderr);
  std::abort();
}

void PureCall() { ThrowInvalidArgument(nullptr, nullptr, nullptr, 0, 0); }

}  // namespace

void ThrowInvalidArgument(const wchar_t*, const wchar_t*, const wchar_t*, unsigned, uintptr_t) {
  throw std::invalid_argument("");
}

void InstallInvalidArgumentHandlers() {
  _set_invalid_parameter_handler(ThrowInvalidArgument);
  _set_purecall_handler(PureCall);
}

std::wstring GetReportProgramPath(const std::wstring& directory) { return directory + L"\\faultpost.exe"; }

std::wstring CrashMemoryName(DWORD processId) {
  wchar_t name[64];
  swprintf(name, 64, L"vodedorozuv_%i", static_cast<int>(processId));
  return name;
}

int InstallCrashReporter(uintptr_t moduleFilter, const wchar_t* reporterPath) {
  g_state.moduleFilter = moduleFilter;
  const wchar_t* commandLine = GetCommandLineW();
  SetCrashCommandLine(g_state.record, commandLine != nullptr ? std::u16string_view(reinterpret_cast<const char16_t*>(
                                                                   commandLine))
                                                             : std::u16string_view());

  wchar_t own[MAX_PATH] = {};
  DWORD length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 0;
  wchar_t* slash = wcsrchr(own, L'\\');
  if (slash == nullptr) return 0;
  *slash = 0;
  std::wstring reporter = reporterPath != nullptr ? std::wstring(reporterPath) : GetReportProgramPath(own);
  if (reporter.size() >= kPathUnits) return 0;
  wcscpy(g_state.reporterPath, reporter.c_str());
  wcscpy(g_state.memoryName, CrashMemoryName(GetCurrentProcessId()).c_str());

  g_state.previousFilter = SetUnhandledExceptionFilter(CrashFilter);
  std::set_terminate(OnTerminate);
  std::signal(SIGABRT, OnAbortSignal);
  _set_error_mode(_OUT_TO_STDERR);
  static bool registered = false;
  if (!registered) registered = std::atexit(UninstallCrashReporter) == 0;
  return 1;
}

void UninstallCrashReporter() {
  if (g_state.previousFilter != nullptr) {
    SetUnhandledExceptionFilter(g_state.previousFilter);
    g_state.previousFilter = nullptr;
  }
  g_state.reporterPath[0] = 0;
  g_state.memoryName[0] = 0;
}

LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers) {
  if (ReportOnce(pointers) != 0) return EXCEPTION_EXECUTE_HANDLER;
  if (g_state.previousFilter != nullptr) return g_state.previousFilter(pointers);
  return EXCEPTION_CONTINUE_SEARCH;
}

int ReportCrash(EXCEPTION_POINTERS* pointers) {
  if (pointers == nullptr || pointers->ExceptionRecord == nullptr || pointers->ContextRecord == nullptr) return 0;
  const EXCEPTION_RECORD& exception = *pointers->ExceptionRecord;
  if (exception.ExceptionCode == EXCEPTION_BREAKPOINT) return 0;
  if (g_state.reporterPath[0] == 0 || g_state.memoryName[0] == 0) return 0;
  if (g_state.moduleFilter != 0 && !IsModuleOnStack(pointers->ContextRecord, g_state.moduleFilter)) return 0;

  CSharingMemory<VXExceptionContext> memory;
  if (!memory.Create(g_state.memoryName)) return 0;
  VXExceptionContext& record = g_state.record;
  record.reserved = 0;
  record.exceptionAddress = LowAddress(reinterpret_cast<uintptr_t>(exception.ExceptionAddress));
  record.exceptionPointers = LowAddress(reinterpret_cast<uintptr_t>(pointers));
  record.exceptionCode = exception.ExceptionCode;
  record.processId = GetCurrentProcessId();
  record.threadId = GetCurrentThreadId();
  FillX86Context(record.context, RegistersOf(*pointers->ContextRecord));
  std::memcpy(memory.View(), &record, sizeof record);

  // The reporter is created before the other threads are suspended and held
  // until they are: process creation takes locks (the heap's) that a
  // suspended thread might hold, and it must not see the others run.
  wchar_t commandLine[kPathUnits + 96];
  swprintf(commandLine, sizeof commandLine / sizeof commandLine[0], L"\"%ls\" --smname=%ls", g_state.reporterPath,
           g_state.memoryName);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION reporter{};
  if (!CreateProcessW(g_state.reporterPath, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                      &startup, &reporter)) {
    return 0;
  }
  SuspendOtherThreads(true);
  ResumeThread(reporter.hThread);
  // Bounded: a reporter that hangs must not keep a dead process, and with it
  // the server's port and instance mutex, forever.
  WaitForSingleObject(reporter.hProcess, kReporterWaitMs);
  CloseHandle(reporter.hThread);
  CloseHandle(reporter.hProcess);
  SuspendOtherThreads(false);
  return 1;
}

int SuspendOtherThreads(bool suspend) {
  if (!suspend) {
    for (size_t i = 0; i < g_suspendedCount; ++i) {
      ResumeThread(g_suspended[i]);
      CloseHandle(g_suspended[i]);
    }
    g_suspendedCount = 0;
    return 1;
  }
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 0;
  const DWORD process = GetCurrentProcessId();
  const DWORD self = GetCurrentThreadId();
  int result = 1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process || entry.th32ThreadID == self) continue;
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
    if (thread == nullptr || g_suspendedCount == kMaxSuspended) {
      // Skipped, and the walk goes on: the other threads still stop.
      if (thread != nullptr) CloseHandle(thread);
      result = 0;
      continue;
    }
    if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
      CloseHandle(thread);
      result = 0;
      continue;
    }
    g_suspended[g_suspendedCount++] = thread;
  }
  CloseHandle(snapshot);
  return result;
}

bool IsModuleOnStack(const CONTEXT* context, uintptr_t moduleBase) {
  if (context == nullptr || moduleBase == 0) return false;
  // x64 frames are found through the unwind tables, not a frame-pointer chain.
  CONTEXT frame = *context;
  for (int depth = 0; depth < 256 && frame.Rip != 0; ++depth) {
    MEMORY_BASIC_INFORMATION info{};
    if (VirtualQuery(reinterpret_cast<void*>(frame.Rip), &info, sizeof info) == sizeof info &&
        reinterpret_cast<uintptr_t>(info.AllocationBase) == moduleBase) {
      return true;
    }
    const DWORD64 stack = frame.Rsp;
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(frame.Rip, &imageBase, nullptr);
    if (function != nullptr) {
      void* handlerData = nullptr;
      DWORD64 establisher = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, imageBase, frame.Rip, function, &frame, &handlerData, &establisher,
                       nullptr);
    } else {
      // A leaf function: its return address is at the top of the stack.
      if (!Readable(reinterpret_cast<void*>(frame.Rsp), sizeof(DWORD64))) return false;
      frame.Rip = *reinterpret_cast<const DWORD64*>(frame.Rsp);
      frame.Rsp += sizeof(DWORD64);
    }
    if (frame.Rsp <= stack) return false;  // no progress up the stack: a broken frame
  }
  return false;
}
