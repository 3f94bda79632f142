// OrchardMon run by the service control manager: the service
// "orchard_server_monitor", its control handler and its worker thread.
#pragma once
#include <windows.h>

constexpr wchar_t kMonitorServiceName[] = L"orchard_server_monitor";

// Hands the thread to the service dispatcher; returns when the service has
// stopped. False when the dispatcher could not be reached.
bool RunServiceDispatcher();

void WINAPI ServiceMain(DWORD argc, wchar_t** argv);
void WINAPI ServiceCtrlHandler(DWORD control);
bool ReportServiceStatus(DWORD state, DWORD waitHint, DWORD checkPoint, DWORD exitCode = NO_ERROR);
