// The FTP commands of the control channel: 65 account and share directories,
// 66 set the account, 67 address, 68 set the address, 69 statistics.
#pragma once
#include "server/control/command_table.h"

void OnGetFtpAccount(CStreamReader& request, CByteBuffer* reply);
void OnSetFtpAccount(CStreamReader& request, CByteBuffer* reply);
void OnGetFtpSetting(CStreamReader& request, CByteBuffer* reply);
void OnSetFtpSetting(CStreamReader& request, CByteBuffer* reply);
void OnGetFtpStatistics(CStreamReader& request, CByteBuffer* reply);
