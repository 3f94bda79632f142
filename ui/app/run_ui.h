// RunUi: the close switch, or the login dialog, the main dialog and the message loop.
#pragma once
#include <string>

int RunUi(const std::wstring& commandLine, int showCommand);

// Starts the watchdog "OrchardMon.exe" beside the program with " -start",
// hidden; 1 when it was started, else 0 (also when it is missing).
int RunMonitorStart();
