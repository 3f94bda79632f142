// CSvrConfig against real "od_svr_cfg.ini" files: built values, key
// defaults, the data directory and the write-back.
#include "server/config/svr_config.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "foundation/log/server_logs.h"

namespace {

class SvrConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"orchard_cfg_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(GetTickCount());
    CreateDirectoryW(dir_.c_str(), nullptr);
    ini_ = dir_ + L"\\od_svr_cfg.ini";
    log_ = dir_ + L"\\od_server.Log";
    ASSERT_EQ(g_MainLog.Open(log_.c_str(), 0, false), 1);
  }
  void TearDown() override {
    g_MainLog.Close();
    DeleteFileW(ini_.c_str());
    DeleteFileW(log_.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  void PutIni(const std::string& text) {
    DeleteFileW(ini_.c_str());
    if (text == "<none>") return;
    std::ofstream out(ini_.c_str(), std::ios::binary);
    out << text;
  }
  std::wstring Value(const wchar_t* section, const wchar_t* key) {
    wchar_t text[256] = {};
    GetPrivateProfileStringW(section, key, L"<missing>", text, 255, ini_.c_str());
    return text;
  }
  std::string Log() {
    g_MainLog.Flush();
    std::ifstream in(log_.c_str(), std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::wstring dir_, ini_, log_;
};

struct Expected {
  int loaded, logLevel, serviceType, upSpeed, p2pLogLevel, port;
  const wchar_t *user, *password;
  int hostType;
  const wchar_t* host;
  const wchar_t* autoDir;
  int waitTime;
};

TEST_F(SvrConfigTest, LoadGivesBuiltValuesOrKeyDefaults) {
  struct Row { const char* name; std::string file; Expected e; };
  const Row rows[] = {
      {"no file: nothing starts", "<none>", {0, 0, 0, 0, 9, 8000, L"", L"", 1, L"", L"", 0}},
      {"empty file: key defaults", "", {1, 0, 15, 0, 0, 8000, L"", L"", 1, L"", L"", 60}},
      {"only the service type", "[service]\r\nservicetype=2\r\n", {1, 0, 2, 0, 0, 8000, L"", L"", 1, L"", L"", 60}},
      {"every key",
       "[service]\r\nloglevel=2\r\nservicetype=1\r\n[limit]\r\np2p_max_upspeed=512\r\n[p2p]\r\nloglevel=8\r\n"
       "port=9100\r\n[ftp]\r\nuser=alice\r\npswd=s3cret\r\nhosttype=2\r\nhost=ftp.example.org\r\n"
       "[auto]\r\ndir=D:\\Auto\r\n[update]\r\nwaittime=5\r\n",
       {1, 2, 1, 512, 8, 9100, L"alice", L"s3cret", 2, L"ftp.example.org", L"D:\\Auto", 5}},
      {"waittime 0 stays 0 at run time", "[update]\r\nwaittime=0\r\n", {1, 0, 15, 0, 0, 8000, L"", L"", 1, L"", L"", 0}},
      {"empty texts give defaults", "[ftp]\r\nuser=\r\nhost=\r\n", {1, 0, 15, 0, 0, 8000, L"", L"", 1, L"", L"", 60}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    PutIni(r.file);
    CSvrConfig c;
    EXPECT_EQ(c.Load(dir_.c_str()), r.e.loaded);
    EXPECT_EQ(c.logLevel, r.e.logLevel);
    EXPECT_EQ(c.serviceType, r.e.serviceType);
    EXPECT_EQ(c.p2pMaxUpSpeed, r.e.upSpeed);
    EXPECT_EQ(c.p2pLogLevel, r.e.p2pLogLevel);
    EXPECT_EQ(c.p2pPort, r.e.port);
    const FtpConfig ftp = c.Ftp();
    EXPECT_EQ(ftp.user, r.e.user);
    EXPECT_EQ(ftp.password, r.e.password);
    EXPECT_EQ(ftp.hostType, r.e.hostType);
    EXPECT_EQ(ftp.host, r.e.host);
    EXPECT_EQ(ftp.port, 21);
    EXPECT_EQ(c.AutoDir(), r.e.autoDir);
    EXPECT_EQ(c.waitTime, r.e.waitTime);
    EXPECT_EQ(c.ini.Path(), ini_);
  }
}

TEST_F(SvrConfigTest, LoadLogsWhetherTheFileExists) {
  PutIni("<none>");
  CSvrConfig missing;
  missing.Load(dir_.c_str());
  PutIni("");
  CSvrConfig present;
  present.Load(dir_.c_str());
  std::string log = Log();
  std::string narrowIni(ini_.begin(), ini_.end());
  size_t first = log.find("] Config " + narrowIni + " isn't exist");
  size_t second = log.find("] Load config OK");
  EXPECT_NE(first, std::string::npos);
  EXPECT_NE(second, std::string::npos);
  EXPECT_LT(first, second);
}

TEST_F(SvrConfigTest, DataDirectoryIsODStoreAndExists) {
  CSvrConfig c;
  EXPECT_EQ(c.InitStoreDir(), 1);
  ASSERT_GT(c.dataDir.size(), 8u);
  EXPECT_EQ(c.dataDir.substr(c.dataDir.size() - 8), L"\\ODStore");
  DWORD a = GetFileAttributesW(c.dataDir.c_str());
  ASSERT_NE(a, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(a & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(c.InitStoreDir(), 1) << "an existing directory is fine";
}

TEST_F(SvrConfigTest, SaveWritesKeptValuesButNeverTheServiceKeys) {
  PutIni("[service]\r\nloglevel=3\r\nservicetype=1\r\n[update]\r\nwaittime=0\r\n");
  CSvrConfig c;
  ASSERT_EQ(c.Load(dir_.c_str()), 1);
  c.p2pMaxUpSpeed = 300;
  c.p2pLogLevel = 8;
  c.p2pPort = 8123;
  c.UpdateFtp([](FtpConfig& ftp) {
    ftp.user = L"bob";
    ftp.password = L"pa ss";
    ftp.hostType = 2;
    ftp.host = L"files.example";
  });
  c.SetAutoDir(L"C:\\Auto");
  c.serviceType = 3;  // never written
  EXPECT_EQ(c.Save(), 1);
  EXPECT_EQ(c.waitTime, 60);
  struct Row { const wchar_t *section, *key, *expected; };
  static const Row rows[] = {
      {L"limit", L"p2p_max_upspeed", L"300"}, {L"p2p", L"loglevel", L"8"},   {L"p2p", L"port", L"8123"},
      {L"ftp", L"user", L"bob"},              {L"ftp", L"pswd", L"pa ss"},   {L"ftp", L"hosttype", L"2"},
      {L"ftp", L"host", L"files.example"},    {L"auto", L"dir", L"C:\\Auto"}, {L"update", L"waittime", L"60"},
      {L"service", L"servicetype", L"1"},     {L"service", L"loglevel", L"3"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.key);
    EXPECT_EQ(Value(r.section, r.key), r.expected);
  }
  EXPECT_NE(Log().find("] Save config"), std::string::npos);
}

TEST_F(SvrConfigTest, FileCreatedBySaveStartsBothServicesNextTime) {
  PutIni("<none>");
  CSvrConfig first;
  ASSERT_EQ(first.Load(dir_.c_str()), 0);
  EXPECT_EQ(first.serviceType, 0);
  EXPECT_EQ(first.Save(), 1);
  EXPECT_EQ(Value(L"service", L"servicetype"), L"<missing>");
  EXPECT_EQ(Value(L"p2p", L"loglevel"), L"9") << "the built P2P log level is written";
  CSvrConfig second;
  ASSERT_EQ(second.Load(dir_.c_str()), 1);
  EXPECT_EQ(second.serviceType, 15);
  EXPECT_EQ(second.p2pLogLevel, 9);
  EXPECT_EQ(second.waitTime, 60);
}

TEST_F(SvrConfigTest, SaveWithoutLoadWritesNothing) {
  CSvrConfig c;
  EXPECT_EQ(c.Save(), 0);
}

}  // namespace
