// "od_ui_cfg.ini" read and written through the profile functions.
#include "ui/client_settings/ui_config.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

class UiConfigFile : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + L"od_ui_cfg_test_" + std::to_wstring(GetCurrentProcessId()) + L".ini";
    DeleteFileW(path_.c_str());
  }
  void TearDown() override { DeleteFileW(path_.c_str()); }

  std::wstring Read(const wchar_t* section, const wchar_t* key) {
    wchar_t value[256] = {};
    GetPrivateProfileStringW(section, key, L"<missing>", value, 256, path_.c_str());
    return value;
  }
  void Write(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
    WritePrivateProfileStringW(section, key, value, path_.c_str());
  }

  std::wstring path_;
};

TEST_F(UiConfigFile, MissingFileKeepsDefaultsAndFirstSaveWritesThem) {
  UiConfig config;
  LoadUiConfig(path_, config);
  EXPECT_EQ(config.urlFmt, 1);
  EXPECT_TRUE(config.sites.empty());
  SaveUiConfig(path_, config);
  struct Row {
    const wchar_t* section;
    const wchar_t* key;
    const wchar_t* value;
  } rows[] = {{L"user", L"UrlFmt", L"1"},  {L"user", L"NameFmt", L"0"},          {L"user", L"Sort", L"0"},
              {L"site", L"count", L"0"},   {L"site", L"lastconn", L"127.0.0.1"}, {L"site_1", L"address", L"<missing>"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << std::string(row.key, row.key + wcslen(row.key)));
    EXPECT_EQ(Read(row.section, row.key), row.value);
  }
}

TEST_F(UiConfigFile, ReadsSitesUpToTheirCount) {
  Write(L"user", L"UrlFmt", L"0");
  Write(L"user", L"NameFmt", L"1");
  Write(L"site", L"count", L"2");
  Write(L"site", L"lastconn", L"10.0.0.7");
  Write(L"site_1", L"address", L"10.0.0.7");
  Write(L"site_1", L"port", L"9191");
  Write(L"site_1", L"auto", L"1");
  Write(L"site_3", L"address", L"beyond.count");
  UiConfig config;
  LoadUiConfig(path_, config);
  EXPECT_EQ(config.urlFmt, 0);  // a present key replaces the in-memory value
  EXPECT_EQ(config.nameFmt, 1);
  EXPECT_EQ(config.sort, 0);
  EXPECT_EQ(config.lastConn, L"10.0.0.7");
  ASSERT_EQ(config.sites.size(), 2u);
  EXPECT_EQ(config.sites[0].address, u"10.0.0.7");
  EXPECT_EQ(config.sites[0].port, 9191);
  EXPECT_EQ(config.sites[0].autoLogin, 1u);
  EXPECT_EQ(config.sites[1].address, u"");  // counted but missing
  EXPECT_EQ(config.sites[1].port, 0);
  EXPECT_EQ(config.sites[1].autoLogin, 0u);
}

TEST_F(UiConfigFile, SaveWritesEverySiteAndLeavesOlderSections) {
  Write(L"site_3", L"address", L"old.server");
  UiConfig config;
  config.urlFmt = 0;
  config.nameFmt = 2;
  config.sort = 1;
  config.sites = {{u"127.0.0.1", 9090, 1}, {u"server.example", 9191, 0}};
  config.lastConn = L"server.example";
  SaveUiConfig(path_, config);
  UiConfig back;
  LoadUiConfig(path_, back);
  EXPECT_EQ(back.urlFmt, 0);
  EXPECT_EQ(back.nameFmt, 2);
  EXPECT_EQ(back.sort, 1);
  EXPECT_EQ(back.lastConn, L"server.example");
  ASSERT_EQ(back.sites.size(), 2u);
  EXPECT_EQ(back.sites[1].address, u"server.example");
  EXPECT_EQ(back.sites[1].port, 9191);
  EXPECT_EQ(back.sites[0].autoLogin, 1u);
  EXPECT_EQ(Read(L"site_3", L"address"), L"old.server");
}

}  // namespace
