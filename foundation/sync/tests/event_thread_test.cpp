// Events, threads and thread naming: absent handles, waits and exit codes.
#include "foundation/sync/event_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

TEST(EventWait, AbsentSignalledAndUnsignalled) {
  HANDLE set = EventCreate(true);
  HANDLE unset = EventCreate(false);
  ASSERT_NE(set, nullptr);
  ASSERT_NE(unset, nullptr);
  EventSet(set, true);
  struct Row { const char* name; HANDLE h; bool expected; };
  const Row rows[] = {
      {"null", nullptr, true},
      {"invalid", INVALID_HANDLE_VALUE, true},
      {"signalled", set, true},
      {"not signalled", unset, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(EventWait(r.h, 20), r.expected);
    EXPECT_EQ(ThreadWait(r.h, 20), r.expected);
  }
  EventSet(set, false);
  EXPECT_FALSE(EventWait(set, 0));
  EventSet(nullptr, true);  // absent: nothing happens
  EventClose(&set);
  EventClose(&unset);
}

TEST(EventWaitTwo, WhichHandleAnswers) {
  HANDLE on1 = EventCreate(true), on2 = EventCreate(true), off1 = EventCreate(true), off2 = EventCreate(true);
  EventSet(on1, true);
  EventSet(on2, true);
  struct Row { const char* name; HANDLE first, second; int expected; };
  const Row rows[] = {
      {"first absent", nullptr, off2, 1},
      {"first absent, second set", INVALID_HANDLE_VALUE, on2, 1},
      {"first signalled", on1, off2, 1},
      {"both signalled", on1, on2, 1},
      {"second signalled", off1, on2, 2},
      {"neither", off1, off2, 0},
      {"second absent, first not signalled", off1, nullptr, 0},
      {"second absent, first signalled", on1, nullptr, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(EventWaitTwo(r.first, r.second, 20), r.expected);
  }
  for (HANDLE* h : {&on1, &on2, &off1, &off2}) EventClose(h);
}

TEST(EventClose, ClearsAndToleratesAbsentHandles) {
  HANDLE h = EventCreate(true);
  EventClose(&h);
  EXPECT_EQ(h, nullptr);
  EventClose(&h);  // already closed
  HANDLE invalid = INVALID_HANDLE_VALUE;
  EventClose(&invalid);
  EXPECT_EQ(invalid, nullptr);
  ThreadClose(&invalid);
  EventClose(nullptr);
}

unsigned __stdcall ReturnSeven(void*) { return 7; }

TEST(ThreadStart, RunsAndReportsExitCode) {
  HANDLE t = ThreadStart(ReturnSeven, nullptr);
  ASSERT_NE(t, nullptr);
  ASSERT_TRUE(ThreadWait(t, 10000));
  DWORD code = 99;
  EXPECT_TRUE(ThreadExitCode(t, &code));
  EXPECT_EQ(code, 7u);
  ThreadClose(&t);
  EXPECT_EQ(t, nullptr);
  code = 99;
  EXPECT_FALSE(ThreadExitCode(nullptr, &code));
  EXPECT_EQ(code, 0u);
}

std::atomic<int> g_namingExceptions{0};

LONG CALLBACK CountNamingException(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == 0x406D1388) {
    ++g_namingExceptions;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

struct NameResult {
  const char* name;
  std::wstring read;
  bool haveGetter = false;
};

unsigned __stdcall NameSelf(void* p) {
  auto* r = static_cast<NameResult*>(p);
  SetThreadName(r->name);
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  auto get = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  if (get) {
    r->haveGetter = true;
    PWSTR text = nullptr;
    if (SUCCEEDED(get(GetCurrentThread(), &text)) && text) {
      r->read = text;
      LocalFree(text);
    }
  }
  return 0;
}

TEST(SetThreadName, NamesWithoutRaisingTheDebuggerException) {
  PVOID handler = AddVectoredExceptionHandler(1, CountNamingException);
  ASSERT_NE(handler, nullptr);
  struct Row { const char* name; const wchar_t* expected; };
  static const Row rows[] = {{"p2p_scheduler", L"p2p_scheduler"}, {"", L""}, {nullptr, L""}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name ? row.name : "(null)");
    NameResult r{row.name};
    HANDLE t = ThreadStart(NameSelf, &r);
    ASSERT_NE(t, nullptr);
    ASSERT_TRUE(ThreadWait(t, 10000));
    ThreadClose(&t);
    if (r.haveGetter) {
      EXPECT_EQ(r.read, row.expected);
    }
  }
  RemoveVectoredExceptionHandler(handler);
  EXPECT_EQ(g_namingExceptions.load(), 0);
}

}  // namespace
