// OrchardMon's log "od_monitor.Log": created anew at each start, written
// through, entries stamped with the time of day and its milliseconds.
#pragma once
#include <string>

#include "foundation/log/log_format.h"

// Levels: 1 information, 3 error.
bool OpenMonitorLog(const std::wstring& path, unsigned threshold);
void WriteMonitorLog(unsigned level, const char* format, ...) ORCHARD_PRINTF(2, 3);
void CloseMonitorLog();
