// The settings cache refreshed from scripted replies of commands 65, 67 and 113.
#include "ui/client_settings/settings_cache.h"

#include <gtest/gtest.h>

#include "ui/client/control_client.h"
#include "ui/client/tests/client_fixture.h"

namespace {

FakeExchange AccountReply(std::u16string_view user, std::u16string_view password) {
  std::vector<uint8_t> payload = Utf16Field(user, 128);
  std::vector<uint8_t> pw = Utf16Field(password, 128);
  payload.insert(payload.end(), pw.begin(), pw.end());
  payload.insert(payload.end(), 4, 0);
  return {0, StatusReply(200, payload)};
}

class SettingsCacheTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    ResetSettingsCache();
  }
};

TEST_F(SettingsCacheTest, AccountUserAndPassword) {
  // MD5 of "secret" as upper-case hex.
  const char16_t* kSecretMd5 = u"5EBE2294ECD0E0F08EAB7690D2A6EE69";
  struct Row {
    const char* name;
    const wchar_t* cachedUser;
    const wchar_t* cachedPassword;
    const char16_t* replyUser;
    const char16_t* replyPassword;
    const wchar_t* user;
    const wchar_t* password;
  } rows[] = {
      {"password matches its MD5", L"", L"secret", u"ftpuser", kSecretMd5, L"ftpuser", L"secret"},
      {"MD5 compared without case", L"", L"secret", u"ftpuser", u"5ebe2294ecd0e0f08eab7690d2a6ee69", L"ftpuser",
       L"secret"},
      {"other digest clears it", L"", L"secret", u"ftpuser", u"00000000000000000000000000000000", L"ftpuser", L""},
      {"empty reply password clears it", L"", L"secret", u"ftpuser", u"", L"ftpuser", L""},
      {"empty user clears the user", L"someone", L"", u"", u"", L"", L""},
      {"anonymous shown as no account", L"", L"", u"anonymous", u"", L"", L""},
      {"anonymous replaces a cached user", L"someone", L"", u"anonymous", u"", L"anonymous", L""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ResetSettingsCache();
    Cache().ftpUser = row.cachedUser;
    Cache().ftpPassword = row.cachedPassword;
    Fake().script = {AccountReply(row.replyUser, row.replyPassword)};
    LoadFtpAccount();
    EXPECT_EQ(Cache().ftpUser, row.user);
    EXPECT_EQ(Cache().ftpPassword, row.password);
  }
}

TEST_F(SettingsCacheTest, FailedRefreshChangesNothing) {
  Cache().ftpUser = L"kept";
  Cache().ftpHost = L"kept.host";
  Cache().p2pPort = 8123;
  Fake().script = {{kResultSocketError, {}}, {0, StatusReply(404)}, {0, {}}};
  LoadFtpAccount();
  LoadFtpSetting();
  LoadP2pSetting();
  EXPECT_EQ(Cache().ftpUser, L"kept");
  EXPECT_EQ(Cache().ftpHost, L"kept.host");
  EXPECT_EQ(Cache().p2pPort, 8123);
}

TEST_F(SettingsCacheTest, FtpHostTypeFromTheHostText) {
  struct Row {
    const char16_t* host;
    uint32_t type;
  } rows[] = {{u"10.0.0.5", 1}, {u"ftp.example", 2}, {u"1.example", 2}, {u"300.1.1.1", 2}};
  for (const Row& row : rows) {
    std::u16string host = row.host;
    SCOPED_TRACE(std::string(host.begin(), host.end()));
    std::vector<uint8_t> payload = Utf16Field(host, 128);
    payload.push_back(0x79);  // port 2169
    payload.push_back(0x08);
    Fake().script = {{0, StatusReply(200, payload)}};
    LoadFtpSetting();
    EXPECT_EQ(Cache().ftpHostType, row.type);
    EXPECT_EQ(Cache().ftpHost, std::wstring(host.begin(), host.end()));
    EXPECT_EQ(Cache().ftpPort, 2169);
  }
  // An empty host keeps host and type but takes the port.
  Fake().script = {{0, StatusReply(200, std::vector<uint8_t>(130, 0))}};
  LoadFtpSetting();
  EXPECT_EQ(Cache().ftpHost, L"300.1.1.1");
  EXPECT_EQ(Cache().ftpPort, 0);
}

TEST_F(SettingsCacheTest, P2pSettingAndReset) {
  Fake().script = {{0, StatusReply(200, {0x00, 0x04, 0, 0, 8, 0, 0x41, 0x1F})}};
  LoadP2pSetting();
  EXPECT_EQ(Cache().p2pMaxUpSpeed, 1024u);
  EXPECT_EQ(Cache().p2pLogLevel, 8);
  EXPECT_EQ(Cache().p2pPort, 8001);
  ResetSettingsCache();
  EXPECT_EQ(Cache().p2pMaxUpSpeed, 0u);
  EXPECT_EQ(Cache().p2pLogLevel, 9);
  EXPECT_EQ(Cache().p2pPort, 8000);
  EXPECT_EQ(Cache().ftpPort, 21);
  EXPECT_EQ(Cache().ftpHostType, 1u);
}

}  // namespace
