// Commands about the server itself: information (81), system (82),
// performance (83) and close (129).
#pragma once
#include "server/control/command_table.h"

void OnGetServerInfo(CStreamReader& request, CByteBuffer* reply);
void OnGetSystemInfo(CStreamReader& request, CByteBuffer* reply);
void OnGetPerformance(CStreamReader& request, CByteBuffer* reply);
void OnCloseServer(CStreamReader& request, CByteBuffer* reply);
