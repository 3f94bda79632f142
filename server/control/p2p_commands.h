// Commands about the P2P core: peers (97), shared files (98), P2P settings
// (113 to 116), statistics (117), resume and pause of uploads (130, 131).
#pragma once
#include "server/control/command_table.h"

void OnGetUserList(CStreamReader& request, CByteBuffer* reply);
void OnGetUploadingList(CStreamReader& request, CByteBuffer* reply);
void OnGetP2pSetting(CStreamReader& request, CByteBuffer* reply);
void OnSetP2pMaxUpSpeed(CStreamReader& request, CByteBuffer* reply);
void OnSetP2pLogLevel(CStreamReader& request, CByteBuffer* reply);
void OnSetP2pPort(CStreamReader& request, CByteBuffer* reply);
void OnGetP2pStatistics(CStreamReader& request, CByteBuffer* reply);
void OnResumeUpload(CStreamReader& request, CByteBuffer* reply);
void OnPauseUpload(CStreamReader& request, CByteBuffer* reply);
