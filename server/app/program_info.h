// What OrchardSvc knows of its own program: the version text, the FTP
// server's service program, and the watchdog start.
#pragma once
#include <string>

// "%d.%d.%d.%d" of the program file's version resource; "0.0.0.0" without one.
std::string ProgramVersionText();

// The program path of the installed service "Orchard Server"; empty when the
// service does not exist.
std::wstring FtpServiceProgramPath();

// Runs "OrchardMon.exe" from the program's folder with the switch appended
// (" -start" or " -stop"), hidden, without waiting, and logs "Monitor %s".
void RunMonitor(const wchar_t* command);
