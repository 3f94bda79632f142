// The FTP server's service query and the start and stop of the watchdog.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The binary path of the installed service "Orchard Server"; empty when the
// service is missing. Failures print to the standard output.
std::wstring QueryServiceInfo();

// What the watchdog is given as its command line.
enum class MonitorCommandLine {
  // Its quoted path with the switch appended (OrchardSvc).
  kPathAndSwitch,
  // The switch alone, the program named apart; a missing program is neither
  // logged nor started (OrchardUI).
  kSwitchOnly,
};

// Runs "OrchardMon.exe" of the program's directory with the switch (" -start"
// or " -stop"), hidden, inheriting the caller's inheritable handles, without
// waiting. The line "Monitor <command line>" goes to log when one is given.
// With process given, it receives the program's handle for a later wait
// (the caller closes it); it stays null when the program did not start.
bool RunMonitor(const wchar_t* switchText, const std::function<void(const std::string&)>& log = {},
                HANDLE* process = nullptr, MonitorCommandLine form = MonitorCommandLine::kPathAndSwitch);
