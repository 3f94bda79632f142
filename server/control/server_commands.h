// Commands about the server itself: information (81), system (82),
// performance (83) and close (129).
#pragma once
#include "server/control/command_table.h"

void OnGetServerInfo(const CommandArgs& args, CByteBuffer* reply);
void OnGetSystemInfo(const CommandArgs& args, CByteBuffer* reply);
void OnGetPerformance(const CommandArgs& args, CByteBuffer* reply);
void OnCloseServer(const CommandArgs& args, CByteBuffer* reply);
