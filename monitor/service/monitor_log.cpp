// OrchardMon's one log, written from every thread of the service.
#include "monitor/service/monitor_log.h"

#include <cstdarg>
#include <cstdio>

#include "foundation/log/log_file.h"

namespace {
CLogFile g_monitorLog;
constexpr int kTimeOfDay = 2;  // "%02d:%02d:%02d:%03d"
}  // namespace

bool OpenMonitorLog(const std::wstring& path, unsigned threshold) {
  g_monitorLog.SetTimeMode(kTimeOfDay);
  return g_monitorLog.Open(path.c_str(), threshold, false) == 1;
}

void WriteMonitorLog(unsigned level, const char* format, ...) {
  char message[kLogEntryMax + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  WriteLog(&g_monitorLog, level, "%s", message);
}

void CloseMonitorLog() { g_monitorLog.Close(); }
