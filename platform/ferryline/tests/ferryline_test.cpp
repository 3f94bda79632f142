// The Ferryline stand-in through its exports: start order, the log-on events
// on a thread of their own, kept state, the settings file and the journal.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ferryline/ferryline.h"

namespace {

std::wstring TempFile(const wchar_t* name) {
  wchar_t dir[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, dir);
  return std::wstring(dir) + name;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Seen {
  std::vector<int> types;
  std::vector<DWORD> threads;
  std::atomic<int> count{0};
};

int OnEvent(int type, const FRLI_EVENT* event) {
  if (!event || !event->context) return 0;
  Seen* seen = static_cast<Seen*>(event->context);
  seen->types.push_back(type);
  seen->threads.push_back(GetCurrentThreadId());
  if (type == 5) {  // the library can be asked from inside its own callback
    wchar_t host[FRLI_TEXT_UNITS];
    uint32_t port = 0;
    FRLI_GetSvrAddress(host, &port);
  }
  ++seen->count;
  return 1;
}

class Ferryline : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_ = TempFile(L"ferryline_test.ini");
    journal_ = TempFile(L"ferryline_test_journal.txt");
    state_ = TempFile(L"ferryline_test_state.ini");
    DeleteFileW(settings_.c_str());
    DeleteFileW(journal_.c_str());
    DeleteFileW(state_.c_str());
    SetEnvironmentVariableW(L"FERRYLINE_SETTINGS", settings_.c_str());
    SetEnvironmentVariableW(L"FERRYLINE_JOURNAL", journal_.c_str());
    SetEnvironmentVariableW(L"FERRYLINE_STATE", state_.c_str());
  }
  void TearDown() override {
    FRLI_LogOut();
    FRLI_StopSvr();
    FRLI_Term();
    DeleteFileW(settings_.c_str());
    DeleteFileW(journal_.c_str());
    DeleteFileW(state_.c_str());
  }
  void Set(const wchar_t* key, const wchar_t* value) { WritePrivateProfileStringW(L"ftp", key, value, settings_.c_str()); }
  std::wstring settings_, journal_, state_;
};

TEST_F(Ferryline, StartOrder) {
  struct Row {
    const char* name;
    const wchar_t* program;
    const wchar_t* failing;  // setting set to 0
    int init, start, logon;
  } rows[] = {
      {"all succeed", L"C:\\od_svr_ftp.exe", nullptr, 1, 1, 1},
      {"no program", L"", nullptr, 0, 0, 0},
      {"init refused", L"C:\\x.exe", L"init", 0, 0, 0},
      {"start refused", L"C:\\x.exe", L"start", 1, 0, 0},
      {"log-on refused", L"C:\\x.exe", L"logon", 1, 1, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    DeleteFileW(settings_.c_str());
    Set(L"events", L"");
    if (r.failing) Set(r.failing, L"0");
    EXPECT_EQ(FRLI_Init(r.program, OnEvent, nullptr), r.init);
    EXPECT_EQ(FRLI_StartSvr(), r.start);
    EXPECT_EQ(FRLI_LogOn(), r.logon);
    FRLI_LogOut();
    FRLI_StopSvr();
    FRLI_Term();
  }
  // Stopping before any start is harmless.
  FRLI_LogOut();
  FRLI_StopSvr();
  FRLI_Term();
}

TEST_F(Ferryline, EventsAfterLogOnOnOwnThread) {
  Seen seen;
  Set(L"host", L"ftp.example.org");
  ASSERT_EQ(FRLI_Init(L"C:\\od_svr_ftp.exe", OnEvent, &seen), 1);
  ASSERT_EQ(FRLI_StartSvr(), 1);
  EXPECT_EQ(seen.count.load(), 0) << "no event before log-on";
  ASSERT_EQ(FRLI_LogOn(), 1);
  FRLI_LogOut();  // waits for the event thread
  EXPECT_EQ(seen.types, (std::vector<int>{0, 1, 2, 5, 6}));
  for (DWORD id : seen.threads) EXPECT_NE(id, GetCurrentThreadId());
  const std::string journal = ReadAll(journal_);
  EXPECT_NE(journal.find("event type=6 result=1"), std::string::npos) << journal;
  EXPECT_NE(journal.find("FRLI_GetSvrAddress host=ftp.example.org port=21 result=1"), std::string::npos) << journal;
}

TEST_F(Ferryline, KeptStateAndSettings) {
  // Before anything is given, the settings file answers.
  Set(L"user", L"carol");
  Set(L"pswd", L"abc");
  Set(L"port", L"2121");
  Set(L"netin", L"12345678901");
  Set(L"netout", L"7");
  Set(L"users", L"3");
  wchar_t user[FRLI_TEXT_UNITS], pswd[FRLI_TEXT_UNITS], host[FRLI_TEXT_UNITS];
  uint32_t port = 0;
  ASSERT_EQ(FRLI_GetAccount(user, pswd), 1);
  EXPECT_STREQ(user, L"carol");
  EXPECT_STREQ(pswd, L"900150983CD24FB0D6963F7D28E17F72");  // MD5 of "abc"
  EXPECT_EQ(FRLI_GetSvrAddress(host, &port), 0) << "no host known";
  EXPECT_STREQ(host, L"");
  uint64_t in = 1, out = 1;
  FRLI_GetNetIO(&in, &out);
  EXPECT_EQ(in, 12345678901u);
  EXPECT_EQ(out, 7u);
  EXPECT_EQ(FRLI_GetConnUserCount(), 3u);
  EXPECT_EQ(FRLI_GetShareDirCount(), 0u);

  // What OrchardSvc hands over wins over the file; the account only once applied.
  FRLI_SHARE_DIR given[2] = {};
  wcscpy(given[0].localPath, L"C:\\Home");
  given[0].flag = 1;
  wcscpy(given[1].localPath, L"D:\\Video");
  wcscpy(given[1].ftpPath, L"C:\\Home\\ABCD");
  FRLI_AddShareDir(L"dave", L"pw", given, 2);
  ASSERT_EQ(FRLI_GetAccount(user, pswd), 1);
  EXPECT_STREQ(user, L"carol");
  FRLI_SetAccount();
  ASSERT_EQ(FRLI_GetAccount(user, pswd), 1);
  EXPECT_STREQ(user, L"dave");
  EXPECT_EQ(std::wcslen(pswd), 32u);
  ASSERT_EQ(FRLI_GetShareDirCount(), 2u);
  FRLI_SHARE_DIR back[3] = {};
  EXPECT_EQ(FRLI_GetShareDir(back, 1), 1u) << "never past the capacity";
  EXPECT_EQ(FRLI_GetShareDir(back, 3), 2u);
  EXPECT_EQ(std::memcmp(back, given, sizeof given), 0);

  // A host longer than the buffer comes back cut and terminated.
  const std::wstring longHost(100, L'h');
  FRLI_SetCustomAddress(longHost.c_str(), 990);
  ASSERT_EQ(FRLI_GetSvrAddress(host, &port), 1);
  EXPECT_EQ(std::wcslen(host), size_t(FRLI_TEXT_UNITS - 1));
  EXPECT_EQ(port, 990u);

  const std::string journal = ReadAll(journal_);
  EXPECT_NE(journal.find("FRLI_AddShareDir user=dave pswd=pw count=2 [C:\\Home||1] [D:\\Video|C:\\Home\\ABCD|0]"),
            std::string::npos)
      << journal;
  EXPECT_NE(journal.find("FRLI_SetCustomAddress host=" + std::string(100, 'h') + " port=990"), std::string::npos);
}

TEST_F(Ferryline, GivenStateOutlivesTheLibrary) {
  Set(L"user", L"carol");
  Set(L"host", L"from.settings");
  ASSERT_EQ(FRLI_Init(L"C:\\od_svr_ftp.exe", OnEvent, nullptr), 1);
  FRLI_SHARE_DIR given[2] = {};
  wcscpy(given[0].localPath, L"C:\\Home");
  given[0].flag = 1;
  wcscpy(given[1].localPath, L"D:\\电影");
  wcscpy(given[1].ftpPath, L"C:\\Home\\ABCD");
  FRLI_AddShareDir(L"dave", L"abc", given, 2);
  FRLI_SetAccount();
  FRLI_SetCustomAddress(L"ftp.example.org", 2121);
  FRLI_Term();  // as when the process ends

  ASSERT_EQ(FRLI_Init(L"C:\\od_svr_ftp.exe", OnEvent, nullptr), 1);
  wchar_t user[FRLI_TEXT_UNITS], pswd[FRLI_TEXT_UNITS], host[FRLI_TEXT_UNITS];
  uint32_t port = 0;
  ASSERT_EQ(FRLI_GetAccount(user, pswd), 1);
  EXPECT_STREQ(user, L"dave");
  EXPECT_STREQ(pswd, L"900150983CD24FB0D6963F7D28E17F72") << "kept as the digest only";
  ASSERT_EQ(FRLI_GetSvrAddress(host, &port), 1);
  EXPECT_STREQ(host, L"ftp.example.org");
  EXPECT_EQ(port, 2121u);
  ASSERT_EQ(FRLI_GetShareDirCount(), 2u);
  FRLI_SHARE_DIR back[2] = {};
  ASSERT_EQ(FRLI_GetShareDir(back, 2), 2u);
  EXPECT_EQ(std::memcmp(back, given, sizeof given), 0);
  EXPECT_EQ(ReadAll(state_).find("abc"), std::string::npos) << "no plain password in the state file";

  // Without a state file the settings file answers again.
  FRLI_Term();
  DeleteFileW(state_.c_str());
  ASSERT_EQ(FRLI_Init(L"C:\\od_svr_ftp.exe", OnEvent, nullptr), 1);
  ASSERT_EQ(FRLI_GetAccount(user, pswd), 1);
  EXPECT_STREQ(user, L"carol");
  ASSERT_EQ(FRLI_GetSvrAddress(host, &port), 1);
  EXPECT_STREQ(host, L"from.settings");
  EXPECT_EQ(FRLI_GetShareDirCount(), 0u);
}

}  // namespace
