// CreateProcessW with a writable command line, no inherited handles, and both
// returned handles closed: the UI never waits for the watchdog.
#include "ui/app/monitor_start.h"

#include <windows.h>
#include <shlwapi.h>

#include <string>

#include "ui/settings/ui_log.h"
#include "foundation/util/code_pages.h"

int RunMonitorStart() {
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  PathRemoveFileSpecW(module);
  wchar_t program[MAX_PATH] = {};
  if (PathCombineW(program, module, L"OrchardMon.exe") == nullptr || !PathFileExistsW(program)) return 0;

  wchar_t commandLine[] = L" -start";  // CreateProcessW may write into it
  WriteUiLog(1, "Monitor %s", WideToNarrow(commandLine, CP_ACP).c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &process)) {
    return 0;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return 1;
}
