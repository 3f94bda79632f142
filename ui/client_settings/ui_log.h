// The user interface's log "od_client.Log": one process-wide object, created
// anew at each start and written through.
#pragma once
#include <string>

#include "foundation/log/log_format.h"

void SetUiLogThreshold(unsigned level);
// Opens (emptying) the log at `path`, closing one already open. False when it cannot be created.
bool OpenUiLog(const std::wstring& path);
void CloseUiLog();
bool IsUiLogOpen();
// Writes one entry when the log is open and `level` is at or above the threshold.
void WriteUiLog(unsigned level, const char* format, ...) ORCHARD_PRINTF(2, 3);
