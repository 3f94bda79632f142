// OrchardSvc's main and link logs, opened and closed by the program's entry.
#include "foundation/log/server_logs.h"

CLogFile g_MainLog;
CLogFile g_LinkLog;
