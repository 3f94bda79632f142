// The command functions over the channel client with its fixed deadlines.
#include "ui/client/control_client.h"

#include <cstdio>

#include "foundation/channel/tcp_channel.h"
#include "ui/client_settings/ui_log.h"
#include "foundation/util/code_pages.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide strings");

namespace {

std::wstring g_portError;
ServerInfoBlock g_serverInfo{};
bool g_connected = false;

std::u16string_view View(const std::wstring& s) {
  return {reinterpret_cast<const char16_t*>(s.data()), s.size()};
}

std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

std::wstring Wide(const char16_t* units, size_t maxUnits) { return Wide(FixedText(units, maxUnits)); }

bool IsEmptyArgument(const std::wstring& path) { return path.empty() || path[0] == L'\0'; }

// The narrow form of a path for the log.
std::string LogText(const std::wstring& s) { return WideToNarrow(s.c_str(), CP_ACP); }

// One request and its reply; returns the transport result.
int Transact(const std::vector<uint8_t>& request, CByteBuffer& reply) {
  CByteBuffer body;
  if (body.Append(request.data(), static_cast<uint32_t>(request.size())) != 0) return kChannelSocketError;
  return TcpClientSendCmd(&body, &reply);
}

ReplyReader Reader(const CByteBuffer& reply) { return ReplyReader(reply.Data(), reply.Length()); }

// Result of the commands from 65 on.
int SettingResult(int transport, uint16_t status) {
  if (transport != kChannelOk) return kResultTransportFailed;
  return status == kStatusOk ? static_cast<int>(kResultOk) : status;
}

// Codes 4, 5, 17 and 18: a path, nothing copied out, the line for every status.
int PathCommand(ControlCommand code, const std::wstring& path, const char* sendText, const char* recvText) {
  if (IsEmptyArgument(path)) return kResultEmptyArgument;
  std::string logPath = LogText(path);
  WriteUiLog(1, sendText, logPath.c_str());
  CByteBuffer reply;
  int transport = Transact(RequestBuilder(code).Path(View(path)).Bytes(), reply);
  if (transport != kChannelOk) return transport;
  uint16_t status = Reader(reply).Status();
  WriteUiLog(1, recvText, status, logPath.c_str());
  return status;
}

// Codes 65 to 131 whose reply is only looked at for 200.
template <class CopyOut>
int SettingCommand(const std::vector<uint8_t>& request, const char* sendText, const char* recvText, CopyOut copyOut) {
  WriteUiLog(1, "%s", sendText);
  CByteBuffer reply;
  int transport = Transact(request, reply);
  ReplyReader reader = Reader(reply);
  uint16_t status = reader.Status();
  if (transport == kChannelOk && status == kStatusOk) {
    WriteUiLog(1, "%s", recvText);
    copyOut(reader);
  }
  return SettingResult(transport, status);
}

template <class Record>
int ListCommand(const std::vector<uint8_t>& request, std::vector<Record>& list, size_t& got) {
  CByteBuffer reply;
  got = 0;
  int transport = Transact(request, reply);
  if (transport != kChannelOk) return transport;
  ReplyReader reader = Reader(reply);
  if (reader.Status() != kStatusOk) return reader.Status();
  got = ReadRecordList(reader, list);
  return kResultOk;
}

void NoCopy(const ReplyReader&) {}

}  // namespace

const std::wstring& P2pPortErrorText() { return g_portError; }
ServerInfoBlock& ServerInfo() { return g_serverInfo; }
bool IsConnected() { return g_connected; }
void SetConnected(bool connected) { g_connected = connected; }

int GetServerDirectorys(std::vector<CPublishDir>& list) {
  WriteUiLog(1, "Send CMD - Get directorys of server");
  size_t got = 0;
  int result = ListCommand(RequestBuilder(ControlCommand::DirList).Bytes(), list, got);
  if (result == kResultOk) WriteUiLog(1, "Recv RES - Get %d directorys of server", static_cast<int>(got));
  return result;
}

int GetDirectoryFiles(const std::wstring& path, std::vector<CPublishItem>& list) {
  if (IsEmptyArgument(path)) return kResultEmptyArgument;
  std::string logPath = LogText(path);
  WriteUiLog(1, "Send CMD - Get files of %s", logPath.c_str());
  size_t got = 0;
  int result = ListCommand(RequestBuilder(ControlCommand::GetFileList).Path(View(path)).Bytes(), list, got);
  if (result == kResultOk) WriteUiLog(1, "Recv RES - Get %d files of %s", static_cast<int>(got), logPath.c_str());
  return result;
}

int GetUnpublishedFiles(std::vector<CPublishItem>& list) {
  WriteUiLog(1, "Send CMD - Get Unpublished file");
  size_t got = 0;
  int result = ListCommand(RequestBuilder(ControlCommand::AllUnpublished).Bytes(), list, got);
  if (result == kResultOk) WriteUiLog(1, "Recv RES - Get %d Unpublished files", static_cast<int>(got));
  return result;
}

int AddPublishDirectory(const std::wstring& path, int flag) {
  if (IsEmptyArgument(path)) return kResultEmptyArgument;
  std::string logPath = LogText(path);
  WriteUiLog(1, "Send CMD - Add directory %s", logPath.c_str());
  CByteBuffer reply;
  ControlCommand code = flag == 0 ? ControlCommand::AddDir : ControlCommand::PubDir;
  if (Transact(RequestBuilder(code).Path(View(path)).Bytes(), reply) != kChannelOk) return kResultSocketError;
  uint16_t status = Reader(reply).Status();
  WriteUiLog(1, "Recv RES - %d - Add directory %s", status, logPath.c_str());
  return status == kStatusOk ? static_cast<int>(kResultOk) : status;
}

int DeletePublishDirectory(const std::wstring& path) {
  return PathCommand(ControlCommand::DelDir, path, "Send CMD - Delete directory %s", "Recv RES - %d - Delete directory %s");
}

int SetAutoPublishDirectory(const std::wstring& path) {
  return PathCommand(ControlCommand::SetAutoDir, path, "Send CMD - Set auto directory %s",
                     "Recv RES - %d - Set auto directory %s");
}

int PublishFile(const std::wstring& path) {
  return PathCommand(ControlCommand::PubFile, path, "Send CMD - Public file %s", "Recv RES - %d - Public file %s");
}

int CancelPublishFile(const std::wstring& path) {
  return PathCommand(ControlCommand::CancelPubFile, path, "Send CMD - Cancel public file %s",
                     "Recv RES - %d - Cancel Public file %s");
}

int ExportUrl(std::wstring& text, const std::wstring& path, uint32_t linkKind, uint32_t naming, uint32_t sort,
              uint64_t rangeStart, uint64_t rangeEnd, const std::wstring& keyword) {
  if (IsEmptyArgument(path)) return kResultEmptyArgument;
  WriteUiLog(1, "Send CMD - ExportURL");
  ExportParams params;
  params.linkKind = linkKind;
  params.naming = naming;
  params.sort = sort;
  params.rangeStart = rangeStart;
  params.rangeEnd = rangeEnd;
  params.keyword = View(keyword);
  params.path = View(path);
  CByteBuffer reply;
  int transport = Transact(BuildExportRequest(params), reply);
  if (transport != kChannelOk) return transport;
  ReplyReader reader = Reader(reply);
  uint16_t status = reader.Status();
  if (status == kStatusOk) {
    WriteUiLog(1, "Recv RES - ExportURL");
    std::u16string links;
    if (ReadExportText(reader, links)) text = Wide(links);
  }
  return status;
}

int GetUserList(std::vector<UserRecord>& list) {
  WriteUiLog(1, "Send CMD - Get list of user");
  size_t got = 0;
  if (ListCommand(RequestBuilder(ControlCommand::GetUserList).Bytes(), list, got) != kResultOk) return 0;
  WriteUiLog(1, "Recv RES - Get %d users", static_cast<int>(got));
  return 1;
}

int GetUploadingList(std::vector<UploadRecord>& list) {
  WriteUiLog(1, "Send CMD - Get list of uploading file");
  size_t got = 0;
  if (ListCommand(RequestBuilder(ControlCommand::GetUploadingList).Bytes(), list, got) != kResultOk) return 0;
  WriteUiLog(1, "Recv RES - Get  files %d", static_cast<int>(got));
  return 1;
}

int GetFtpAccount(FtpAccount& out) {
  return SettingCommand(RequestBuilder(ControlCommand::GetFtpAccount).Bytes(), "Send CMD - Get account of ftp",
                        "Recv RES - Get account of ftp", [&](const ReplyReader& reader) {
                          FtpAccountReply reply;
                          ReadFtpAccount(reader, reply);
                          out.user = Wide(reply.user);
                          out.password = Wide(reply.password);
                          out.dirs = std::move(reply.dirs);
                          for (const FtpShareDirEntry& entry : out.dirs) {
                            std::string first = LogText(Wide(entry.first, kPathUnits));
                            WriteUiLog(1, "ftp dir: %s", first.c_str());
                            if (entry.isHome == 0) {
                              std::string second = LogText(Wide(entry.second, kPathUnits));
                              WriteUiLog(1, "ftp dir: %s", second.c_str());
                            }
                          }
                        });
}

int SetFtpAccount(const std::wstring& user, const std::wstring& password) {
  return SettingCommand(RequestBuilder(ControlCommand::SetFtpAccount).Name(View(user)).Name(View(password)).Bytes(),
                        "Send CMD - Set account of ftp", "Recv RES - Set account of ftp", NoCopy);
}

int GetFtpSetting(std::wstring& host, uint16_t& port) {
  return SettingCommand(RequestBuilder(ControlCommand::GetFtpSetting).Bytes(), "Send CMD - Get setting of ftp",
                        "Recv RES - Get setting of ftp", [&](const ReplyReader& reader) {
                          host = Wide(reader.Text(2, kNameUnits));
                          port = reader.U16(130);
                        });
}

int SetFtpSetting(uint32_t hostType, const std::wstring& host, uint16_t port) {
  return SettingCommand(BuildFtpSettingRequest(hostType, View(host), port), "Send CMD - Set setting of ftp",
                        "Recv RES - Set setting of ftp", NoCopy);
}

int GetFtpStatistics(FtpStatistics& out) {
  return SettingCommand(RequestBuilder(ControlCommand::GetFtpStatistics).Bytes(), "Send CMD - Get statistics of ftp",
                        "Recv RES - Get statistics of ftp",
                        [&](const ReplyReader& reader) { reader.Copy(2, &out, sizeof out); });
}

int GetP2pSetting(P2pSetting& out) {
  return SettingCommand(RequestBuilder(ControlCommand::GetP2pSetting).Bytes(), "Send CMD - Get setting of p2p",
                        "Recv RES - Get setting of p2p",
                        [&](const ReplyReader& reader) { reader.Copy(2, &out, sizeof out); });
}

int SetP2pMaxUpSpeed(uint32_t speed) {
  return SettingCommand(RequestBuilder(ControlCommand::SetP2pMaxUpSpeed).U32(speed).Bytes(), "Send CMD - Set max up speed of p2p",
                        "Recv RES - Set max up speed of p2p", NoCopy);
}

int SetP2pLogLevel(uint16_t level) {
  return SettingCommand(RequestBuilder(ControlCommand::SetP2pLogLevel).U16(level).Bytes(), "Send CMD - Set level of log of p2p",
                        "Recv RES - Set level of log of p2p", NoCopy);
}

int SetP2pPort(uint16_t port) {
  WriteUiLog(1, "Send CMD - Set port of p2p");
  CByteBuffer reply;
  int transport = Transact(RequestBuilder(ControlCommand::SetP2pPort).U16(port).Bytes(), reply);
  if (transport != kChannelOk) return kResultTransportFailed;
  ReplyReader reader = Reader(reply);
  uint16_t status = reader.Status();
  WriteUiLog(1, "Recv RES - Set port of p2p");
  if (status == kStatusOk) return kResultOk;
  g_portError = Wide(reader.Text(2, kPortErrorUnits));
  return status;
}

int GetP2pStatistics(P2pTotals& totals, P2pStatBlock& block) {
  return SettingCommand(RequestBuilder(ControlCommand::GetP2pStatistics).Bytes(), "Send CMD - Get Statistics of p2p",
                        "Recv RES - Get Statistics of p2p", [&](const ReplyReader& reader) {
                          reader.Copy(2, &totals, sizeof totals);
                          reader.Copy(26, &block, sizeof block);
                        });
}

int GetServerInfo() {
  return SettingCommand(RequestBuilder(ControlCommand::GetServerInfo).Bytes(), "Send CMD - Get infomation of server",
                        "Recv RES - Get infomation of server",
                        [&](const ReplyReader& reader) { reader.Copy(2, &g_serverInfo, sizeof g_serverInfo); });
}

int GetServerSystemInfo(SystemInfoBlock& out) {
  return SettingCommand(RequestBuilder(ControlCommand::GetSystemInfo).Bytes(), "Send CMD - Get system infomation of server",
                        "Recv RES - Get system infomation of server",
                        [&](const ReplyReader& reader) { reader.Copy(2, &out, sizeof out); });
}

int GetServerPerformance(PerformanceBlock& out) {
  return SettingCommand(RequestBuilder(ControlCommand::GetPerformance).Bytes(),
                        "Send CMD - Get performance infomation of server",
                        "Recv RES - Get performance infomation of server",
                        [&](const ReplyReader& reader) { reader.Copy(2, &out, sizeof out); });
}

int CloseServer() {
  return SettingCommand(RequestBuilder(ControlCommand::CloseServer).Bytes(), "Send CMD - Close server", "Recv RES - Close server",
                        NoCopy);
}

int ControlServer(int on) {
  ControlCommand code = on != 0 ? ControlCommand::ResumeUpload : ControlCommand::PauseUpload;
  char sendText[64];
  std::snprintf(sendText, sizeof sendText, "Send CMD - Control server - %d", on);
  return SettingCommand(RequestBuilder(code).Bytes(), sendText, "Recv RES - Control server", NoCopy);
}
