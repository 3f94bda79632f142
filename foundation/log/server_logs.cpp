// OrchardSvc's main and link logs, opened and closed by the program's entry.
#include "foundation/log/server_logs.h"

CLogFile g_MainLog;
CLogFile g_LinkLog;

namespace {
void WriteMainLogLine(int level, const char* line) { WriteLog(&g_MainLog, uint32_t(level), "%s", line); }
}  // namespace

ThreadStopLog MainLogStopLines(const char* waiting, const char* leftRunning) {
  return ThreadStopLog{WriteMainLogLine, waiting, leftRunning};
}
