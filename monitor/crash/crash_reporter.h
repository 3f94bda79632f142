// The crash reporter that OrchardSvc, OrchardUI and OrchardMon install at the
// very start: an unhandled exception, std::terminate or abort writes the
// crash record into the shared memory "vodedorozuv_<pid>", runs
// "faultpost.exe" beside the program with "--smname=<name>", waits for it
// (bounded), and lets the process end.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

// How long a crashed process waits for its reporting program.
constexpr DWORD kReporterWaitMs = 30000;
// The code recorded for std::terminate and abort, which raise no exception.
constexpr DWORD kAbortExceptionCode = 0x40000015;  // STATUS_FATAL_APP_EXIT

// The runtime's invalid-parameter and pure-call events throw an
// invalid-argument exception, which, uncaught, ends in the report.
void InstallInvalidArgumentHandlers();
[[noreturn]] void ThrowInvalidArgument(const wchar_t* expression, const wchar_t* function, const wchar_t* file,
                                       unsigned line, uintptr_t reserved);

// moduleFilter 0 reports every crash, else only those whose stack passes
// through the module at that base. reporterPath null: "faultpost.exe" in the
// program's directory. 1 installed; 0 when the program's path has no backslash.
// Also routes std::terminate and abort to the report and sends the runtime's
// error messages to standard error instead of a message box.
int InstallCrashReporter(uintptr_t moduleFilter, const wchar_t* reporterPath = nullptr);
// Puts the previous filter back and forgets both names (runs at exit).
void UninstallCrashReporter();

// The unhandled-exception filter: EXCEPTION_EXECUTE_HANDLER when reported,
// else the previous filter's answer, else EXCEPTION_CONTINUE_SEARCH. Reports
// once per process: a thread that crashes while another reports waits for
// that report and then ends; a crash inside the report ends it.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* pointers);
// 1 when the reporting program ran; 0 for a breakpoint, a crash outside the
// module filter, or a memory or program that cannot be had.
int ReportCrash(EXCEPTION_POINTERS* pointers);

// Suspends (true) or resumes (false) the other threads of the process; a
// resume resumes exactly the threads the suspend suspended. A thread that
// cannot be opened is skipped and the walk goes on; the result is then 0, else 1.
int SuspendOtherThreads(bool suspend);
// True when a frame of the stack that the context describes lies in the module.
bool IsModuleOnStack(const CONTEXT* context, uintptr_t moduleBase);

std::wstring GetReportProgramPath(const std::wstring& directory);
// "vodedorozuv_<pid>".
std::wstring CrashMemoryName(DWORD processId);
