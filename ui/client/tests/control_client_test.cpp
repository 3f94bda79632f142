// Every command function against a scripted channel: the request it sends,
// its result for each kind of outcome, its log lines, and what it copies out.
#include "ui/client/control_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "foundation/channel/tcp_channel.h"
#include "ui/client/tests/client_fixture.h"

namespace {

std::vector<uint8_t> U32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

std::vector<uint8_t> Zeros(size_t n) { return std::vector<uint8_t>(n, 0); }

std::vector<uint8_t> Cat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

FakeExchange Ok(std::vector<uint8_t> payload = {}) { return {0, StatusReply(200, std::move(payload))}; }
FakeExchange Status(uint16_t status, std::vector<uint8_t> payload = {}) {
  return {0, StatusReply(status, std::move(payload))};
}
FakeExchange Empty() { return {0, {}}; }
FakeExchange Transport(int code) { return {code, {}}; }

const std::wstring kPath = L"C:\\video";

struct Row {
  const char* name;
  std::function<int()> call;
  FakeExchange exchange;
  int code;             // command code sent; -1 for nothing sent
  size_t requestSize;
  int expected;
  std::vector<std::string> log;
};

using ControlClient = ClientTest;

TEST_F(ControlClient, RequestsResultsAndLogLines) {
  std::vector<CPublishDir> dirs;
  std::vector<CPublishItem> files;
  std::vector<UserRecord> users;
  std::vector<UploadRecord> uploads;
  std::wstring text;
  FtpAccount account;
  std::wstring host;
  uint16_t port = 0;
  FtpStatistics ftpStats{};
  P2pSetting p2p{};
  P2pTotals totals{};
  P2pStatBlock block{};
  SystemInfoBlock system{};
  PerformanceBlock performance{};

  const std::vector<Row> rows = {
      {"33 two directories", [&] { return GetServerDirectorys(dirs); },
       Ok(Cat(U32(2), Zeros(2 * sizeof(CPublishDir)))), 33, 2, kResultOk,
       {"Send CMD - Get directorys of server", "Recv RES - Get 2 directorys of server"}},
      {"33 socket error", [&] { return GetServerDirectorys(dirs); }, Transport(kChannelSocketError), 33, 2,
       kResultSocketError, {"Send CMD - Get directorys of server"}},
      {"33 not connected", [&] { return GetServerDirectorys(dirs); }, Transport(kChannelNotConnected), 33, 2,
       kResultNotConnected, {"Send CMD - Get directorys of server"}},
      {"34 files", [&] { return GetDirectoryFiles(kPath, files); }, Ok(Cat(U32(1), Zeros(sizeof(CPublishItem)))), 34,
       522, kResultOk, {"Send CMD - Get files of C:\\video", "Recv RES - Get 1 files of C:\\video"}},
      {"34 not found", [&] { return GetDirectoryFiles(kPath, files); }, Status(404), 34, 522, 404,
       {"Send CMD - Get files of C:\\video"}},
      {"34 checksum", [&] { return GetDirectoryFiles(kPath, files); }, Transport(kChannelChecksumMismatch), 34, 522,
       kResultChecksumMismatch, {"Send CMD - Get files of C:\\video"}},
      {"34 empty path", [&] { return GetDirectoryFiles(L"", files); }, Ok(), -1, 0, kResultEmptyArgument, {}},
      {"35 none unpublished", [&] { return GetUnpublishedFiles(files); }, Ok(U32(0)), 35, 2, kResultOk,
       {"Send CMD - Get Unpublished file", "Recv RES - Get 0 Unpublished files"}},
      {"1 add", [&] { return AddPublishDirectory(kPath, 0); }, Ok(), 1, 522, kResultOk,
       {"Send CMD - Add directory C:\\video", "Recv RES - 200 - Add directory C:\\video"}},
      {"2 add and publish, already published", [&] { return AddPublishDirectory(kPath, 1); }, Status(403), 2, 522,
       403, {"Send CMD - Add directory C:\\video", "Recv RES - 403 - Add directory C:\\video"}},
      {"1 checksum mismatch is 2", [&] { return AddPublishDirectory(kPath, 0); },
       Transport(kChannelChecksumMismatch), 1, 522, kResultSocketError, {"Send CMD - Add directory C:\\video"}},
      {"1 not connected is 2", [&] { return AddPublishDirectory(kPath, 0); }, Transport(kChannelNotConnected), 1, 522,
       kResultSocketError, {"Send CMD - Add directory C:\\video"}},
      {"1 empty path", [&] { return AddPublishDirectory(L"", 0); }, Ok(), -1, 0, kResultEmptyArgument, {}},
      {"4 empty reply", [&] { return DeletePublishDirectory(kPath); }, Empty(), 4, 522, 0,
       {"Send CMD - Delete directory C:\\video", "Recv RES - 0 - Delete directory C:\\video"}},
      {"4 status as received", [&] { return DeletePublishDirectory(kPath); }, Ok(), 4, 522, 200,
       {"Send CMD - Delete directory C:\\video", "Recv RES - 200 - Delete directory C:\\video"}},
      {"4 socket error", [&] { return DeletePublishDirectory(kPath); }, Transport(kChannelSocketError), 4, 522,
       kResultSocketError, {"Send CMD - Delete directory C:\\video"}},
      {"5 auto directory", [&] { return SetAutoPublishDirectory(kPath); }, Empty(), 5, 522, 0,
       {"Send CMD - Set auto directory C:\\video", "Recv RES - 0 - Set auto directory C:\\video"}},
      {"17 publish file", [&] { return PublishFile(kPath); }, Empty(), 17, 522, 0,
       {"Send CMD - Public file C:\\video", "Recv RES - 0 - Public file C:\\video"}},
      {"18 cancel", [&] { return CancelPublishFile(kPath); }, Empty(), 18, 522, 0,
       {"Send CMD - Cancel public file C:\\video", "Recv RES - 0 - Cancel Public file C:\\video"}},
      {"18 empty path", [&] { return CancelPublishFile(L""); }, Empty(), -1, 0, kResultEmptyArgument, {}},
      {"49 export", [&] { return ExportUrl(text, kPath, 1, 0, 1, 0, 0, L""); },
       Ok(Cat(U32(3), {'a', 0, 'b', 0, 'c', 0})), 49, 1070, 200, {"Send CMD - ExportURL", "Recv RES - ExportURL"}},
      {"49 not found", [&] { return ExportUrl(text, kPath, 1, 0, 1, 0, 0, L""); }, Status(404), 49, 1070, 404,
       {"Send CMD - ExportURL"}},
      {"97 users", [&] { return GetUserList(users); }, Ok(Cat(U32(1), Zeros(sizeof(UserRecord)))), 97, 2, 1,
       {"Send CMD - Get list of user", "Recv RES - Get 1 users"}},
      {"97 not logged in", [&] { return GetUserList(users); }, Status(502), 97, 2, 0, {"Send CMD - Get list of user"}},
      {"97 transport", [&] { return GetUserList(users); }, Transport(kChannelSocketError), 97, 2, 0,
       {"Send CMD - Get list of user"}},
      {"98 uploads", [&] { return GetUploadingList(uploads); }, Ok(Cat(U32(2), Zeros(2 * sizeof(UploadRecord)))), 98,
       2, 1, {"Send CMD - Get list of uploading file", "Recv RES - Get  files 2"}},
      {"65 account", [&] { return GetFtpAccount(account); }, Ok(Cat(Zeros(256), U32(0))), 65, 2, kResultOk,
       {"Send CMD - Get account of ftp", "Recv RES - Get account of ftp"}},
      {"65 transport", [&] { return GetFtpAccount(account); }, Transport(kChannelNotConnected), 65, 2,
       kResultTransportFailed, {"Send CMD - Get account of ftp"}},
      {"66 set account", [&] { return SetFtpAccount(L"user", L"secret"); }, Ok(), 66, 258, kResultOk,
       {"Send CMD - Set account of ftp", "Recv RES - Set account of ftp"}},
      {"67 setting", [&] { return GetFtpSetting(host, port); }, Ok(Zeros(130)), 67, 2, kResultOk,
       {"Send CMD - Get setting of ftp", "Recv RES - Get setting of ftp"}},
      {"68 set setting", [&] { return SetFtpSetting(1, L"10.0.0.5", 21); }, Ok(), 68, 136, kResultOk,
       {"Send CMD - Set setting of ftp", "Recv RES - Set setting of ftp"}},
      {"69 statistics", [&] { return GetFtpStatistics(ftpStats); }, Ok(Zeros(20)), 69, 2, kResultOk,
       {"Send CMD - Get statistics of ftp", "Recv RES - Get statistics of ftp"}},
      {"113 p2p setting", [&] { return GetP2pSetting(p2p); }, Ok(Zeros(8)), 113, 2, kResultOk,
       {"Send CMD - Get setting of p2p", "Recv RES - Get setting of p2p"}},
      {"114 speed", [&] { return SetP2pMaxUpSpeed(0); }, Ok(), 114, 6, kResultOk,
       {"Send CMD - Set max up speed of p2p", "Recv RES - Set max up speed of p2p"}},
      {"115 level", [&] { return SetP2pLogLevel(9); }, Ok(), 115, 4, kResultOk,
       {"Send CMD - Set level of log of p2p", "Recv RES - Set level of log of p2p"}},
      {"116 refused", [&] { return SetP2pPort(8001); }, Status(501, Utf16Field(u"不能初始化此端口", 64)), 116, 4, 501,
       {"Send CMD - Set port of p2p", "Recv RES - Set port of p2p"}},
      {"116 transport", [&] { return SetP2pPort(8001); }, Transport(kChannelSocketError), 116, 4,
       kResultTransportFailed, {"Send CMD - Set port of p2p"}},
      {"117 empty reply", [&] { return GetP2pStatistics(totals, block); }, Empty(), 117, 2, 0,
       {"Send CMD - Get Statistics of p2p"}},
      {"117 statistics", [&] { return GetP2pStatistics(totals, block); }, Ok(Zeros(80)), 117, 2, kResultOk,
       {"Send CMD - Get Statistics of p2p", "Recv RES - Get Statistics of p2p"}},
      {"81 information", [&] { return GetServerInfo(); }, Ok(Zeros(148)), 81, 2, kResultOk,
       {"Send CMD - Get infomation of server", "Recv RES - Get infomation of server"}},
      {"81 not logged in", [&] { return GetServerInfo(); }, Status(502), 81, 2, 502,
       {"Send CMD - Get infomation of server"}},
      {"82 system", [&] { return GetServerSystemInfo(system); }, Ok(Zeros(256)), 82, 2, kResultOk,
       {"Send CMD - Get system infomation of server", "Recv RES - Get system infomation of server"}},
      {"83 performance", [&] { return GetServerPerformance(performance); }, Ok(Zeros(28)), 83, 2, kResultOk,
       {"Send CMD - Get performance infomation of server", "Recv RES - Get performance infomation of server"}},
      {"129 close", [&] { return CloseServer(); }, Ok(), 129, 2, kResultOk,
       {"Send CMD - Close server", "Recv RES - Close server"}},
      {"129 transport", [&] { return CloseServer(); }, Transport(kChannelNotConnected), 129, 2,
       kResultTransportFailed, {"Send CMD - Close server"}},
      {"130 resume", [&] { return ControlServer(1); }, Empty(), 130, 2, 0, {"Send CMD - Control server - 1"}},
      {"131 pause", [&] { return ControlServer(0); }, Ok(), 131, 2, kResultOk,
       {"Send CMD - Control server - 0", "Recv RES - Control server"}},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    Fake().script.assign(1, row.exchange);
    EXPECT_EQ(row.call(), row.expected);
    if (row.code < 0) {
      EXPECT_TRUE(Fake().requests.empty());
    } else {
      ASSERT_EQ(Fake().requests.size(), 1u);
      const std::vector<uint8_t>& sent = Fake().requests[0];
      EXPECT_EQ(sent.size(), row.requestSize);
      ASSERT_GE(sent.size(), 2u);
      EXPECT_EQ(sent[0] | (sent[1] << 8), row.code);
    }
    EXPECT_EQ(NewLogLines(), row.log);
  }
}

TEST_F(ControlClient, CopiesOutReplyFields) {
  // A list reply promising more records than it holds: only whole ones arrive.
  std::vector<CPublishDir> dirs;
  Fake().script = {Ok(Cat(U32(1000), Zeros(sizeof(CPublishDir) + 10)))};
  EXPECT_EQ(GetServerDirectorys(dirs), kResultOk);
  EXPECT_EQ(dirs.size(), 1u);

  std::wstring text = L"kept";
  Fake().script = {Ok(U32(0))};
  EXPECT_EQ(ExportUrl(text, kPath, 0, 0, 0, 0, 0, L"kw"), 200);
  EXPECT_EQ(text, L"kept");
  Fake().script = {Ok(Cat(U32(2), {'h', 0, 'i', 0}))};
  EXPECT_EQ(ExportUrl(text, kPath, 0, 0, 0, 0, 0, L""), 200);
  EXPECT_EQ(text, L"hi");

  std::wstring host;
  uint16_t port = 0;
  Fake().script = {Ok(Cat(Utf16Field(u"ftp.example", 128), {0x15, 0x00}))};
  EXPECT_EQ(GetFtpSetting(host, port), kResultOk);
  EXPECT_EQ(host, L"ftp.example");
  EXPECT_EQ(port, 21);

  Fake().script = {Ok(Cat(Cat(Utf16Field(u"status", 128), {0x2A, 0, 0, 0, 0, 0, 0, 0, 10, 0, 0, 1}),
                          Cat(U32(3), U32(7))))};
  EXPECT_EQ(GetServerInfo(), kResultOk);
  EXPECT_EQ(ServerInfo().nodeId, 42u);
  EXPECT_EQ(ServerInfo().dirCount, 3u);
  EXPECT_EQ(ServerInfo().shareCount, 7u);
  // A short block is zero-filled rather than half-copied.
  Fake().script = {Ok(Zeros(100))};
  ServerInfo().nodeId = 99;
  EXPECT_EQ(GetServerInfo(), kResultOk);
  EXPECT_EQ(ServerInfo().nodeId, 0u);
}

TEST_F(ControlClient, PortErrorTextKeptUntilTheNextRefusal) {
  Fake().script = {Status(501, Utf16Field(u"不能初始化此端口", 64))};
  EXPECT_EQ(SetP2pPort(8001), 501);
  EXPECT_EQ(P2pPortErrorText(), L"不能初始化此端口");
  Fake().script = {Ok()};
  EXPECT_EQ(SetP2pPort(8002), kResultOk);
  EXPECT_EQ(P2pPortErrorText(), L"不能初始化此端口");
  Fake().script = {Status(502)};  // no text: the refusal leaves it empty
  EXPECT_EQ(SetP2pPort(8003), 502);
  EXPECT_EQ(P2pPortErrorText(), L"");
}

TEST_F(ControlClient, FtpAccountEntriesAndTheirLogLines) {
  std::vector<uint8_t> home = Cat(Cat(Utf16Field(u"D:\\home", 520), Utf16Field(u"", 520)), U32(1));
  std::vector<uint8_t> pub = Cat(Cat(Utf16Field(u"E:\\video", 520), Utf16Field(u"/video", 520)), U32(0));
  FakeExchange reply = Ok(Cat(Cat(Utf16Field(u"ftpuser", 128), Utf16Field(u"0123ABCD", 128)),
                              Cat(U32(2), Cat(home, pub))));
  Fake().script = {reply};
  FtpAccount account;
  EXPECT_EQ(GetFtpAccount(account), kResultOk);
  EXPECT_EQ(account.user, L"ftpuser");
  EXPECT_EQ(account.password, L"0123ABCD");
  ASSERT_EQ(account.dirs.size(), 2u);
  EXPECT_EQ(NewLogLines(), (std::vector<std::string>{"Send CMD - Get account of ftp", "Recv RES - Get account of ftp",
                                                     "ftp dir: D:\\home", "ftp dir: E:\\video", "ftp dir: /video"}));
}

}  // namespace
