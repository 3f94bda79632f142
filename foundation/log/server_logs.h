// OrchardSvc's two logs for its whole run: the main log "od_server.Log" and
// the link log "PublishList.Log" (entries at level 4, threshold 4).
#pragma once
#include "foundation/log/log_file.h"
#include "foundation/sync/worker_thread.h"

extern CLogFile g_MainLog;
extern CLogFile g_LinkLog;

constexpr uint32_t kLinkLogLevel = 4;

// The main log's lines of a worker's bounded stop (CWorkerThread::Stop).
ThreadStopLog MainLogStopLines(const char* waiting, const char* leftRunning);
