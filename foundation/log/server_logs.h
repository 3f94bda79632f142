// OrchardSvc's two logs for its whole run: the main log "od_server.Log" and
// the link log "PublishList.Log" (entries at level 4, threshold 4).
#pragma once
#include "foundation/log/log_file.h"

extern CLogFile g_MainLog;
extern CLogFile g_LinkLog;

constexpr uint32_t kLinkLogLevel = 4;
