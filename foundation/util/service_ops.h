// The FTP server's service query and the start and stop of the watchdog.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The binary path of the installed service "Orchard Server"; empty when the
// service is missing. Failures print to the standard output.
std::wstring QueryServiceInfo();

// Runs "OrchardMon.exe" of the program's directory with the switch appended
// (" -start" or " -stop"), hidden and without waiting. The line
// "Monitor <command line>" goes to log when one is given (the main log).
// With process given, it receives the program's handle for a later wait
// (the caller closes it); it stays null when the program did not start.
bool RunMonitor(const wchar_t* switchText, const std::function<void(const std::string&)>& log = {},
                HANDLE* process = nullptr);
