// One function per control command of OrchardSvc: each sends its request over
// the channel client, writes its "Send CMD" and "Recv RES" log lines, copies
// the reply out into the caller's storage and returns a ControlResult.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ui/client/codec/control_codec.h"
#include "ui/client/codec/control_records.h"

enum ControlResult : int {
  kResultNotConnected = 1,     // transport codes of the channel client
  kResultSocketError = 2,
  kResultChecksumMismatch = 32,
  kResultOk = 256,             // status 200
  kResultEmptyArgument = 257,  // nothing was sent
  kResultTransportFailed = 260,
};

// Lists and their files (codes 33 to 35): transport code, 256, else the status.
int GetServerDirectorys(std::vector<CPublishDir>& list);
int GetDirectoryFiles(const std::wstring& path, std::vector<CPublishItem>& list);
int GetUnpublishedFiles(std::vector<CPublishItem>& list);

// Code 1 when flag is 0, else 2. 2 for every transport failure.
int AddPublishDirectory(const std::wstring& path, int flag);
// Codes 4, 5, 17, 18: transport code, else the status as received (200 on success).
int DeletePublishDirectory(const std::wstring& path);
int SetAutoPublishDirectory(const std::wstring& path);
int PublishFile(const std::wstring& path);
int CancelPublishFile(const std::wstring& path);

// Code 49: the status as received; on a non-zero count `text` gets the links.
int ExportUrl(std::wstring& text, const std::wstring& path, uint32_t linkKind, uint32_t naming, uint32_t sort,
              uint64_t rangeStart, uint64_t rangeEnd, const std::wstring& keyword);

// Codes 97 and 98: 1 for status 200, else 0.
int GetUserList(std::vector<UserRecord>& list);
int GetUploadingList(std::vector<UploadRecord>& list);

// Codes 65 to 131: 260 for a transport failure, 256, else the status.
struct FtpAccount {
  std::wstring user;
  std::wstring password;  // as the server sends it (the MD5 text)
  std::vector<FtpShareDirEntry> dirs;
};
int GetFtpAccount(FtpAccount& out);
int SetFtpAccount(const std::wstring& user, const std::wstring& password);
int GetFtpSetting(std::wstring& host, uint16_t& port);
int SetFtpSetting(uint32_t hostType, const std::wstring& host, uint16_t port);
int GetFtpStatistics(FtpStatistics& out);
int GetP2pSetting(P2pSetting& out);
int SetP2pMaxUpSpeed(uint32_t speed);
int SetP2pLogLevel(uint16_t level);
int SetP2pPort(uint16_t port);
int GetP2pStatistics(P2pTotals& totals, P2pStatBlock& block);
int GetServerInfo();
int GetServerSystemInfo(SystemInfoBlock& out);
int GetServerPerformance(PerformanceBlock& out);
int CloseServer();
int ControlServer(int on);

// The server's explanation of the last refused port (command 116).
const std::wstring& P2pPortErrorText();
// The block that command 81 fills; read by the pages.
ServerInfoBlock& ServerInfo();
// The connected flag: set by the main dialog's first successful poll, cleared
// by the stop-service command and by a switch of site; read by the pages.
bool IsConnected();
void SetConnected(bool connected);
