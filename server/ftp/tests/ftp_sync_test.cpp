// The FTP synchronisation against the Ferryline stand-in: the address and the
// account read back from the library, the share-directory list and its
// pushes, each checked in the configuration and in the library's journal.
#include "server/ftp/ftp_sync.h"

#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/log/server_logs.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/net_address.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/tests/temp_dir.h"
#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"
#include "server/ftp/ftp_shares.h"

namespace {

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }  // ASCII paths only

// The home folder worked out apart from the code under test.
std::wstring HomeFolder() {
  wchar_t folder[MAX_PATH] = {};
  SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  return std::wstring(folder) + L"\\ODHomeDir";
}

std::wstring Below(const std::wstring& home, const std::wstring& dir) {
  uint8_t id[16];
  MakePathRecordId(dir, id);
  const std::string hex = HexText(id, 16);
  return home + L"\\" + std::wstring(hex.begin(), hex.end());
}

class FtpSyncTest : public testing::Test {
 protected:
  void SetUp() override {
    settings_ = dir_ + L"\\Ferryline.ini";
    journal_ = dir_ + L"\\journal.txt";
    SetEnvironmentVariableW(L"FERRYLINE_SETTINGS", settings_.c_str());
    SetEnvironmentVariableW(L"FERRYLINE_JOURNAL", journal_.c_str());
    SetEnvironmentVariableW(L"FERRYLINE_STATE", (dir_ + L"\\state.ini").c_str());
    log_ = dir_ + L"\\od_server.Log";
    ASSERT_EQ(g_MainLog.Open(log_.c_str(), 0, false), 1);
    home_ = HomeFolder();
    Reset();
  }
  void TearDown() override {
    FRLI_Term();
    g_MainLog.Close();
    SetFtpShareDirs({});
  }
  // A library and a configuration as at a fresh start.
  void Reset() {
    FRLI_Term();
    DeleteFileW((dir_ + L"\\state.ini").c_str());
    DeleteFileW(settings_.c_str());
    DeleteFileW(journal_.c_str());
    SetFtpShareDirs({});
    g_SvrConfig.UpdateFtp([](FtpConfig& ftp) { ftp = FtpConfig(); });
    ASSERT_EQ(FRLI_Init(L"C:\\od_svr_ftp.exe", nullptr, nullptr), 1);
  }
  void Set(const wchar_t* key, const std::wstring& value) {
    WritePrivateProfileStringW(L"ftp", key, value.c_str(), settings_.c_str());
  }
  std::vector<std::string> Journal() { return Lines(ReadAll(journal_)); }
  size_t Calls(const std::string& prefix) {
    size_t n = 0;
    for (const std::string& line : Journal()) n += line.rfind(prefix, 0) == 0;
    return n;
  }
  bool Logged(const std::string& text) { return ReadAll(log_).find("] " + text) != std::string::npos; }

  TempDir temp_{L"ftpsync"};
  const std::wstring dir_ = temp_.Path();
  std::wstring settings_, journal_, log_, home_;
};

TEST_F(FtpSyncTest, LoadServerAddress) {
  std::vector<std::string> local;
  GetLocalHostAddresses(&local);
  const std::wstring firstLocal = local.empty() ? L"" : std::wstring(local[0].begin(), local[0].end());
  struct Row {
    const char* name;
    const wchar_t* libraryHost;  // null: the library knows no address; "": an empty custom address
    uint32_t libraryPort;
    std::wstring storedHost;
    int hostType;
    std::wstring host;
    int port;
  } rows[] = {
      {"dotted address", L"10.0.0.5", 2121, L"", 1, L"10.0.0.5", 2121},
      {"domain name", L"ftp.example.org", 21, L"10.0.0.5", 2, L"ftp.example.org", 21},
      {"leading digit, no address", L"1ftp.example", 990, L"", 2, L"1ftp.example", 990},
      {"no address: nothing changes", nullptr, 0, L"kept.example", 2, L"kept.example", 21},
      {"empty host, none stored: this machine's", L"", 2100, L"", local.empty() ? 2 : 1, firstLocal, 2100},
      {"empty host, 0.0.0.0 stored: this machine's", L"", 2100, L"0.0.0.0", local.empty() ? 2 : 1,
       local.empty() ? L"0.0.0.0" : firstLocal, 2100},
      {"empty host, one stored: kept", L"", 2200, L"mine.example", 2, L"mine.example", 2200},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Reset();
    g_SvrConfig.UpdateFtp([&](FtpConfig& ftp) {
      ftp.host = r.storedHost;
      ftp.hostType = 2;
    });
    if (r.libraryHost && *r.libraryHost) {
      Set(L"host", r.libraryHost);
      Set(L"port", std::to_wstring(r.libraryPort));
    } else if (r.libraryHost) {
      FRLI_SetCustomAddress(L"", r.libraryPort);
    }
    g_SvrConfig.LoadServerAddress();
    const FtpConfig ftp = g_SvrConfig.Ftp();
    EXPECT_EQ(ftp.hostType, r.hostType);
    EXPECT_EQ(ftp.host, r.host);
    EXPECT_EQ(ftp.port, r.port);
  }
}

TEST_F(FtpSyncTest, SyncAccountUserAndPassword) {
  struct Row {
    const char* name;
    std::wstring configuredUser, configuredPassword;
    const wchar_t* libraryUser;  // null: the stand-in's default, "anonymous"
    std::wstring libraryPassword;
    std::wstring user, password;
    bool mismatchLogged;
  } rows[] = {
      {"anonymous, no user configured: stays empty", L"", L"", nullptr, L"", L"", L"", false},
      {"anonymous over a configured user", L"bob", L"", nullptr, L"", L"anonymous", L"", false},
      {"another user is taken", L"", L"", L"carol", L"", L"carol", L"", false},
      {"an empty user empties it", L"bob", L"", L"", L"", L"", L"", false},
      {"password matching its digest", L"bob", L"abc", L"bob", L"abc", L"bob", L"abc", false},
      {"password not matching: logged, the configured one kept", L"bob", L"abc", L"bob", L"xyz", L"bob", L"abc", true},
      {"password the library lacks: kept", L"bob", L"abc", L"bob", L"", L"bob", L"abc", true},
      {"no configured password: nothing to compare", L"bob", L"", L"bob", L"xyz", L"bob", L"", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Reset();
    g_MainLog.Close();
    DeleteFileW(log_.c_str());
    ASSERT_EQ(g_MainLog.Open(log_.c_str(), 0, false), 1);
    g_SvrConfig.UpdateFtp([&](FtpConfig& ftp) {
      ftp.user = r.configuredUser;
      ftp.password = r.configuredPassword;
    });
    if (r.libraryUser) Set(L"user", r.libraryUser);
    Set(L"pswd", r.libraryPassword);
    g_SvrConfig.SyncAccount({});
    const FtpConfig ftp = g_SvrConfig.Ftp();
    EXPECT_EQ(ftp.user, r.user);
    EXPECT_EQ(ftp.password, r.password);
    EXPECT_EQ(Logged("FTP Account return pswd diff client record"), r.mismatchLogged);
    // What the library is given afterwards is the configuration's account.
    const std::string pushed = "FRLI_AddShareDir user=" + Narrow(r.user) + " pswd=" + Narrow(r.password) + " count=";
    EXPECT_EQ(Calls(pushed), 1u);
  }
}

TEST_F(FtpSyncTest, SyncAccountShareList) {
  CreateDirectoryW(home_.c_str(), nullptr);
  const std::wstring a = L"D:\\Video", b = L"E:\\Shows";
  struct Row {
    const char* name;
    FtpShareDirList library;  // what the library holds before
    FtpShareDirList ours;     // our list before
    std::vector<std::wstring> published;
    FtpShareDirList expected;
  } rows[] = {
      {"nothing anywhere: the home entry and the published directories", {}, {}, {a, b},
       {{home_, L"", 1}, {a, Below(home_, a), 0}, {b, Below(home_, b), 0}}},
      {"the library's list replaces ours and is completed",
       {{L"C:\\FtpHome", L"", 1}, {L"d:\\video", L"C:\\FtpHome\\X", 0}}, {{L"C:\\Old", L"", 1}}, {a, b},
       {{L"C:\\FtpHome", L"", 1}, {L"d:\\video", L"C:\\FtpHome\\X", 0}, {b, Below(L"C:\\FtpHome", b), 0}}},
      {"a list without a home entry gets one", {{L"F:\\Other", L"Q", 0}}, {}, {b},
       {{L"F:\\Other", L"Q", 0}, {home_, L"", 1}, {b, Below(home_, b), 0}}},
      {"an empty library list keeps ours", {}, {{home_, L"", 1}, {a, Below(home_, a), 0}}, {a},
       {{home_, L"", 1}, {a, Below(home_, a), 0}}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    Reset();
    if (!r.library.empty()) FtpAddShareDirs(L"", L"", r.library);
    SetFtpShareDirs(r.ours);
    DeleteFileW(journal_.c_str());
    g_SvrConfig.SyncAccount(r.published);
    const FtpShareDirList got = FtpShareDirsSnapshot();
    ASSERT_EQ(got.size(), r.expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(got[i].localPath, r.expected[i].localPath);
      EXPECT_EQ(got[i].ftpPath, r.expected[i].ftpPath);
      EXPECT_EQ(got[i].flag, r.expected[i].flag);
    }
    // Read back, then pushed: account and list in one step, then applied.
    std::vector<std::string> calls;
    for (const std::string& line : Journal()) calls.push_back(line.substr(0, line.find(' ')));
    std::vector<std::string> expectedCalls = {"FRLI_GetAccount", "FRLI_GetShareDirCount"};
    if (!r.library.empty()) expectedCalls.push_back("FRLI_GetShareDir");
    expectedCalls.push_back("FRLI_AddShareDir");
    expectedCalls.push_back("FRLI_SetAccount");
    EXPECT_EQ(calls, expectedCalls);
    EXPECT_EQ(Calls("FRLI_AddShareDir user= pswd= count=" + std::to_string(r.expected.size())), 1u);
  }
}

TEST_F(FtpSyncTest, AddAndRemoveShares) {
  CreateDirectoryW(home_.c_str(), nullptr);
  const std::wstring a = L"D:\\Video", b = L"E:\\Shows";
  struct Row {
    const char* name;
    bool add;
    std::wstring dir;
    FtpShareDirList expected;
  } rows[] = {
      {"first directory brings the home entry", true, a, {{home_, L"", 1}, {a, Below(home_, a), 0}}},
      {"the same directory again adds nothing", true, L"d:\\VIDEO", {{home_, L"", 1}, {a, Below(home_, a), 0}}},
      {"a second directory", true, b, {{home_, L"", 1}, {a, Below(home_, a), 0}, {b, Below(home_, b), 0}}},
      {"removal in another case", false, L"d:\\video", {{home_, L"", 1}, {b, Below(home_, b), 0}}},
      {"removing a directory without an entry", false, L"Z:\\Never", {{home_, L"", 1}, {b, Below(home_, b), 0}}},
  };
  size_t pushes = 0;
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    if (r.add)
      FtpShares().AddShare(r.dir);
    else
      FtpShares().RemoveShare(r.dir);
    const FtpShareDirList got = FtpShareDirsSnapshot();
    ASSERT_EQ(got.size(), r.expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].localPath, r.expected[i].localPath) << i;
      EXPECT_EQ(got[i].ftpPath, r.expected[i].ftpPath) << i;
      EXPECT_EQ(got[i].flag, r.expected[i].flag) << i;
    }
    ++pushes;  // every change, or none, is pushed
    EXPECT_EQ(Calls("FRLI_AddShareDir "), pushes);
    EXPECT_EQ(Calls("FRLI_SetAccount"), pushes);
    EXPECT_EQ(Calls("FRLI_AddShareDir user= pswd= count=" + std::to_string(r.expected.size())) > 0, true);
  }
  // A list whose first entry is not the home entry (the library's) names new directories below that entry.
  SetFtpShareDirs({{L"F:\\Other", L"Q", 0}});
  FtpShares().AddShare(a);
  const FtpShareDirList got = FtpShareDirsSnapshot();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].ftpPath, Below(L"F:\\Other", a));
}

TEST_F(FtpSyncTest, PushesCarryTheConfiguredAccountAndAddress) {
  g_SvrConfig.UpdateFtp([](FtpConfig& ftp) {
    ftp.user = L"alice";
    ftp.password = L"s3cret";
    ftp.host = L"ftp.example.org";
    ftp.port = 2121;
  });
  g_SvrConfig.AddShareDir();
  g_SvrConfig.SetCustomAddress();
  const std::vector<std::string> journal = Journal();
  ASSERT_EQ(journal.size(), 4u);
  EXPECT_EQ(journal[1], "FRLI_AddShareDir user=alice pswd=s3cret count=0");
  EXPECT_EQ(journal[2], "FRLI_SetAccount");
  EXPECT_EQ(journal[3], "FRLI_SetCustomAddress host=ftp.example.org port=2121");
  EXPECT_EQ(FtpPasswordDigest(L"abc"), L"900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(FtpPasswordDigest(L""), L"");
}

}  // namespace
