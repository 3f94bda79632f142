// The crash reporter's parts in a live process: which stacks pass through a
// module, suspending and resuming the other threads, the named memory, and a
// report handed to faultpost.exe with and without a module filter.
#include "monitor/crash/crash_reporter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <sstream>
#include <string>

#include "monitor/crash/codec/crash_record.h"
#include "monitor/crash/sharing_memory.h"

namespace {

uintptr_t BaseOf(HMODULE module) { return reinterpret_cast<uintptr_t>(module); }

// A module that is loaded but that no frame of the test's stack runs in.
uintptr_t UnusedModuleBase() { return BaseOf(LoadLibraryW(L"version.dll")); }

std::wstring OwnDirectory() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir = path;
  return dir.substr(0, dir.find_last_of(L'\\'));
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// An access violation as the system would hand it to the filter, with the
// registers of the caller's present state.
struct FakeCrash {
  EXCEPTION_RECORD record{};
  CONTEXT context{};
  EXCEPTION_POINTERS pointers{&record, &context};
  explicit FakeCrash(DWORD code) {
    RtlCaptureContext(&context);
    record.ExceptionCode = code;
    record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  }
};

}  // namespace

TEST(CrashReporter, ModuleOnStack) {
  CONTEXT context{};
  RtlCaptureContext(&context);
  struct Row {
    const char* name;
    const CONTEXT* context;
    uintptr_t module;
    bool expected;
  };
  const Row rows[] = {
      {"the test program runs this frame", &context, BaseOf(GetModuleHandleW(nullptr)), true},
      {"a loaded module no frame runs in", &context, UnusedModuleBase(), false},
      {"no module", &context, 0, false},
      {"no context", nullptr, BaseOf(GetModuleHandleW(nullptr)), false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(IsModuleOnStack(row.context, row.module), row.expected);
  }
}

TEST(CrashReporter, OtherThreadsStopWhileSuspended) {
  std::atomic<bool> quit{false};
  std::atomic<uint64_t> ticks{0};
  struct Worker {
    std::atomic<bool>* quit;
    std::atomic<uint64_t>* ticks;
  } worker{&quit, &ticks};
  HANDLE thread = CreateThread(
      nullptr, 0,
      [](void* p) -> DWORD {
        auto* w = static_cast<Worker*>(p);
        while (!w->quit->load()) w->ticks->fetch_add(1);
        return 0;
      },
      &worker, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  while (ticks.load() == 0) Sleep(1);

  EXPECT_EQ(SuspendOtherThreads(true), 1);
  const uint64_t frozen = ticks.load();
  Sleep(100);
  EXPECT_EQ(ticks.load(), frozen) << "a suspended thread went on";
  EXPECT_EQ(SuspendOtherThreads(false), 1);
  Sleep(100);
  EXPECT_GT(ticks.load(), frozen) << "the thread was not resumed";
  // A second resume resumes nothing more: the counts stay balanced.
  EXPECT_EQ(SuspendOtherThreads(false), 1);
  EXPECT_EQ(ResumeThread(thread), 0u);

  quit.store(true);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
}

TEST(CrashReporter, NamedMemoryIsSharedByNameAndGoneWhenClosed) {
  const std::wstring name = CrashMemoryName(GetCurrentProcessId()) + L"_test";
  EXPECT_EQ(CrashMemoryName(4660), L"vodedorozuv_4660");
  {
    CSharingMemory<VXExceptionContext> memory;
    ASSERT_EQ(memory.Create(name.c_str()), 1);
    ASSERT_TRUE(memory.IsOpen());
    memory.View()->processId = 4660;
    memory.View()->commandLine[kCrashCommandLineUnits - 1] = 0x4142;

    HANDLE other = OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str());
    ASSERT_NE(other, nullptr);
    auto* seen = static_cast<const VXExceptionContext*>(MapViewOfFile(other, FILE_MAP_READ, 0, 0, 0));
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->processId, 4660u);
    EXPECT_EQ(seen->commandLine[kCrashCommandLineUnits - 1], 0x4142) << "the whole record is shared";
    UnmapViewOfFile(seen);
    CloseHandle(other);
  }
  EXPECT_EQ(OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()), nullptr) << "the memory outlives its reporter";
}

TEST(CrashReporter, ReportGoesToFaultpostOnlyWhenTheStackPassesTheFilter) {
  const std::wstring reporter = OwnDirectory() + L"\\faultpost.exe";
  const std::wstring text = OwnDirectory() + L"\\" + CrashMemoryName(GetCurrentProcessId()) + L".txt";
  DeleteFileW(text.c_str());
  struct Row {
    const char* name;
    uintptr_t filter;
    std::wstring reporter;
    DWORD code;
    int reported;
  };
  const Row rows[] = {
      {"breakpoint", 0, reporter, EXCEPTION_BREAKPOINT, 0},
      {"stack outside the filtered module", UnusedModuleBase(), reporter, EXCEPTION_ACCESS_VIOLATION, 0},
      {"no reporter program", 0, OwnDirectory() + L"\\no_such_faultpost.exe", EXCEPTION_ACCESS_VIOLATION, 0},
      {"stack through the filtered module", BaseOf(GetModuleHandleW(nullptr)), reporter, EXCEPTION_ACCESS_VIOLATION,
       1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(InstallCrashReporter(row.filter, row.reporter.c_str()), 1);
    FakeCrash crash(row.code);
    EXPECT_EQ(ReportCrash(&crash.pointers), row.reported);
    UninstallCrashReporter();
    const std::string written = ReadFile(text);
    if (row.reported == 0) {
      EXPECT_EQ(written, "");
      continue;
    }
    EXPECT_NE(written.find("exception_code=0xC0000005\n"), std::string::npos) << written;
    EXPECT_NE(written.find("thread_id=" + std::to_string(GetCurrentThreadId()) + "\n"), std::string::npos);
    EXPECT_NE(written.find("process_id=" + std::to_string(GetCurrentProcessId()) + "\n"), std::string::npos);
    char eip[32];
    snprintf(eip, sizeof eip, "eip=0x%08X\n", LowAddress(crash.context.Rip));
    EXPECT_NE(written.find(eip), std::string::npos) << written;
  }
  DeleteFileW(text.c_str());
}
