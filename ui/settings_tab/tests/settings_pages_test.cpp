// The FTP and P2P settings pages in process against the scripted channel:
// what they show from the settings cache, how their controls follow the
// user's choices, every check message, the bytes a save sends (only what
// changed), refusals 501 and 502 and channel failures (a refused port shown
// without a caption and put back, other values kept as typed), a failed
// command leaving the others saved, and what undo puts back.
#include <functional>
#include <memory>

#include "foundation/util/wide_text.h"
#include "ui/app/res_string.h"
#include "ui/client/codec/control_codec.h"
#include "ui/settings_tab/svr_ftp_set_dlg.h"
#include "ui/settings_tab/svr_p2p_set_dlg.h"
#include "ui/peer_lists/tests/tab_page_fixture.h"
#include "ui/client_settings/settings_cache.h"

namespace {

// A request as the server reads it, as one line.
std::wstring Describe(const std::vector<uint8_t>& r) {
  ReplyReader body(r.data(), r.size());
  switch (CodeOf(r)) {
    case 66:
      return L"66 user=" + ToWide(body.Text(2, kNameUnits)) + L" password=" + ToWide(body.Text(130, kNameUnits));
    case 68:
      return L"68 type=" + std::to_wstring(body.U32(2)) + L" host=" + ToWide(body.Text(6, kNameUnits)) + L" port=" +
             std::to_wstring(body.U16(134)) + L" bytes=" + std::to_wstring(r.size());
    case 114:
      return L"114 " + std::to_wstring(body.U32(2)) + L" bytes=" + std::to_wstring(r.size());
    case 115:
    case 116:
      return std::to_wstring(CodeOf(r)) + L" " + std::to_wstring(body.U16(2)) + L" bytes=" + std::to_wstring(r.size());
    default:
      return std::to_wstring(CodeOf(r));
  }
}

std::vector<std::wstring> Sent() {
  std::vector<std::wstring> lines;
  for (const auto& r : Fake().requests) lines.push_back(Describe(r));
  return lines;
}

const std::wstring kWarning = L"Ftp的域名、ip、端口、账号或密码发生变化的，需要全部重新发布!\r\n否则可能会造成以前发布的链接无法下载的情况!";
const std::wstring kUnreachable = L"不能与服务连接，设置没有保存";

void SetIp(HWND page, BYTE a, BYTE b, BYTE c, BYTE d) {
  SendDlgItemMessageW(page, IDC_FTP_IP, IPM_SETADDRESS, 0, MAKEIPADDRESS(a, b, c, d));
}

std::wstring IpText(HWND page) {
  DWORD address = 0;
  SendDlgItemMessageW(page, IDC_FTP_IP, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  return std::to_wstring(FIRST_IPADDRESS(address)) + L"." + std::to_wstring(SECOND_IPADDRESS(address)) + L"." +
         std::to_wstring(THIRD_IPADDRESS(address)) + L"." + std::to_wstring(FOURTH_IPADDRESS(address));
}

// A click on a check box as the mouse gives it: it ticks or unticks, then tells the page.
void Toggle(HWND page, int id) { SendDlgItemMessageW(page, id, BM_CLICK, 0, 0); }

bool Enabled(HWND page, int id) { return IsWindowEnabled(GetDlgItem(page, id)) != FALSE; }
bool Checked(HWND page, int id) { return IsDlgButtonChecked(page, id) == BST_CHECKED; }

class FtpSettingsTest : public TabPageTest {
 protected:
  void SetUp() override {
    TabPageTest::SetUp();
    FillCache();
  }
  void FillCache() {
    SettingsCache& cache = Cache();
    cache.ftpHostType = 1;
    cache.ftpHost = L"10.0.0.7";
    cache.ftpPort = 2121;
    cache.ftpUser = L"carol";
    cache.ftpPassword = L"pw";
    cache.ftpServerHasPassword = true;
  }
  void Open() {
    page_ = std::make_unique<CSvrFTPSetDlg>();
    Place(*page_, {});
    Fake().requests.clear();
  }
  HWND Page() { return page_->Handle(); }
  void TearDown() override {
    page_.reset();
    TabPageTest::TearDown();
  }
  std::unique_ptr<CSvrFTPSetDlg> page_;
};

TEST_F(FtpSettingsTest, ShowsTheCache) {
  struct Row {
    const char* name;
    uint32_t type;
    const wchar_t* host;
    bool byDomain;
    const wchar_t *domain, *ip;
  } rows[] = {
      {"an IP address", 1, L"10.0.0.7", false, L"", L"10.0.0.7"},
      {"a domain name", 2, L"ftp.example.com", true, L"ftp.example.com", L"0.0.0.0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Cache().ftpHostType = row.type;
    Cache().ftpHost = row.host;
    Open();
    EXPECT_EQ(Checked(Page(), IDC_FTP_BY_DOMAIN), row.byDomain);
    EXPECT_EQ(Checked(Page(), IDC_FTP_BY_IP), !row.byDomain);
    EXPECT_EQ(Enabled(Page(), IDC_FTP_DOMAIN), row.byDomain);
    EXPECT_EQ(Enabled(Page(), IDC_FTP_IP), !row.byDomain);
    EXPECT_EQ(page_->ItemText(IDC_FTP_DOMAIN), row.domain);
    EXPECT_EQ(IpText(Page()), row.ip);
    EXPECT_EQ(page_->ItemText(IDC_FTP_PORT), L"2121");
    EXPECT_EQ(page_->ItemText(IDC_FTP_USER), L"carol");
    EXPECT_EQ(page_->ItemText(IDC_FTP_PASSWORD), L"pw");
    EXPECT_FALSE(Checked(Page(), IDC_FTP_CUSTOM_ACCOUNT));
    EXPECT_FALSE(Enabled(Page(), IDC_FTP_USER));
    EXPECT_FALSE(Enabled(Page(), IDC_FTP_PASSWORD));
    EXPECT_EQ(SendDlgItemMessageW(Page(), IDC_FTP_USER, EM_GETLIMITTEXT, 0, 0), 16);
    EXPECT_EQ(SendDlgItemMessageW(Page(), IDC_FTP_PORT, EM_GETLIMITTEXT, 0, 0), 5);
    EXPECT_EQ(SentCodes(), std::vector<int>{});
    page_.reset();
  }
}

TEST_F(FtpSettingsTest, ControlsFollowTheChoices) {
  Open();
  Click(Page(), IDC_FTP_BY_DOMAIN);
  EXPECT_TRUE(Checked(Page(), IDC_FTP_BY_DOMAIN));
  EXPECT_FALSE(Checked(Page(), IDC_FTP_BY_IP));
  EXPECT_TRUE(Enabled(Page(), IDC_FTP_DOMAIN));
  EXPECT_FALSE(Enabled(Page(), IDC_FTP_IP));
  Click(Page(), IDC_FTP_BY_IP);
  EXPECT_FALSE(Checked(Page(), IDC_FTP_BY_DOMAIN));
  EXPECT_FALSE(Enabled(Page(), IDC_FTP_DOMAIN));
  EXPECT_TRUE(Enabled(Page(), IDC_FTP_IP));
  Toggle(Page(), IDC_FTP_CUSTOM_ACCOUNT);
  EXPECT_TRUE(Enabled(Page(), IDC_FTP_USER) && Enabled(Page(), IDC_FTP_PASSWORD));
  Toggle(Page(), IDC_FTP_CUSTOM_ACCOUNT);
  EXPECT_FALSE(Enabled(Page(), IDC_FTP_USER) || Enabled(Page(), IDC_FTP_PASSWORD));

  struct Row {
    const wchar_t* typed;
    const wchar_t* shown;
    bool defaultTicked;
  } rows[] = {
      {L"70000", L"65535", false},  // bounded, and no longer the default port
      {L"0", L"1", false},
      {L"2121", L"2121", true},
      {L"", L"", true},  // emptied to type another: left alone
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.typed);
    CheckDlgButton(Page(), IDC_FTP_DEFAULT_PORT, BST_CHECKED);
    SetDlgItemTextW(Page(), IDC_FTP_PORT, row.typed);  // EN_CHANGE follows
    EXPECT_EQ(page_->ItemText(IDC_FTP_PORT), row.shown);
    EXPECT_EQ(Checked(Page(), IDC_FTP_DEFAULT_PORT), row.defaultTicked);
  }
  Toggle(Page(), IDC_FTP_DEFAULT_PORT);
  EXPECT_EQ(page_->ItemText(IDC_FTP_PORT), L"21");
}

TEST_F(FtpSettingsTest, SaveSendsOnlyWhatChangedAndSaysWhatWasRefused) {
  struct Row {
    const char* name;
    std::function<void(HWND)> edit;
    std::deque<FakeExchange> replies;
    std::vector<std::wstring> sent;
    std::vector<std::wstring> messages;
    uint32_t type;
    std::wstring host;
    uint16_t port;
    std::wstring user, password;
    bool accountOpen;  // the account fields stay open after the save
  } rows[] = {
      {"nothing changed", [](HWND) {}, {}, {}, {}, 1, L"10.0.0.7", 2121, L"carol", L"pw", false},
      {"a domain name, sent without a port",
       [](HWND p) {
         Click(p, IDC_FTP_BY_DOMAIN);
         SetDlgItemTextW(p, IDC_FTP_DOMAIN, L"  ftp.example.com ");
       },
       {{0, StatusReply(200)}},
       {L"68 type=2 host=ftp.example.com port=0 bytes=136"},
       {kWarning},
       2,
       L"ftp.example.com",
       2121,
       L"carol",
       L"pw",
       false},
      {"an empty domain name",
       [](HWND p) {
         Click(p, IDC_FTP_BY_DOMAIN);
         SetDlgItemTextW(p, IDC_FTP_DOMAIN, L" ");
       },
       {},
       {},
       {L"域名不能为空"},
       1,
       L"10.0.0.7",
       2121,
       L"carol",
       L"pw",
       false},
      {"an empty IP address", [](HWND p) { SendDlgItemMessageW(p, IDC_FTP_IP, IPM_CLEARADDRESS, 0, 0); }, {}, {},
       {L"IP地址不能为空或0.0.0.0"}, 1, L"10.0.0.7", 2121, L"carol", L"pw", false},
      {"an empty port", [](HWND p) { SetDlgItemTextW(p, IDC_FTP_PORT, L""); }, {}, {},
       {L"端口必须是1到65535之间的数字"}, 1, L"10.0.0.7", 2121, L"carol", L"pw", false},
      {"another address and port",
       [](HWND p) {
         SetIp(p, 10, 0, 0, 8);
         SetDlgItemTextW(p, IDC_FTP_PORT, L"21");
       },
       {{0, StatusReply(200)}},
       {L"68 type=1 host=10.0.0.8 port=21 bytes=136"},
       {kWarning},
       1,
       L"10.0.0.8",
       21,
       L"carol",
       L"pw",
       false},
      {"another account",
       [](HWND p) {
         Toggle(p, IDC_FTP_CUSTOM_ACCOUNT);
         SetDlgItemTextW(p, IDC_FTP_USER, L"dave");
         SetDlgItemTextW(p, IDC_FTP_PASSWORD, L"secret");
       },
       {{0, StatusReply(200)}},
       {L"66 user=dave password=secret"},
       {kWarning},
       1,
       L"10.0.0.7",
       2121,
       L"dave",
       L"secret",
       false},
      {"a password without a user makes the user anonymous",
       [](HWND p) {
         Toggle(p, IDC_FTP_CUSTOM_ACCOUNT);
         SetDlgItemTextW(p, IDC_FTP_USER, L"");
         SetDlgItemTextW(p, IDC_FTP_PASSWORD, L"x");
       },
       {{0, StatusReply(200)}},
       {L"66 user= password=x"},
       {kWarning},
       1,
       L"10.0.0.7",
       2121,
       L"anonymous",
       L"x",
       false},
      {"the address lost on the way, the account saved",
       [](HWND p) {
         SetIp(p, 10, 0, 0, 9);
         Toggle(p, IDC_FTP_CUSTOM_ACCOUNT);
         SetDlgItemTextW(p, IDC_FTP_USER, L"erin");
       },
       {{2, {}}, {0, StatusReply(200)}},
       {L"68 type=1 host=10.0.0.9 port=2121 bytes=136", L"66 user=erin password=pw"},
       {kUnreachable, kWarning},
       1,
       L"10.0.0.7",
       2121,
       L"erin",
       L"pw",
       false},
      {"an account that did not arrive stays open, and no warning",
       [](HWND p) {
         Toggle(p, IDC_FTP_CUSTOM_ACCOUNT);
         SetDlgItemTextW(p, IDC_FTP_PASSWORD, L"new");
       },
       {{2, {}}},
       {L"66 user=carol password=new"},
       {kUnreachable},
       1,
       L"10.0.0.7",
       2121,
       L"carol",
       L"pw",
       true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FillCache();
    Open();
    row.edit(Page());
    Fake().script = row.replies;
    page_->Save();
    Pump();
    EXPECT_EQ(Sent(), row.sent);
    EXPECT_EQ(TakeMessages(), row.messages);
    EXPECT_EQ(Cache().ftpHostType, row.type);
    EXPECT_EQ(Cache().ftpHost, row.host);
    EXPECT_EQ(Cache().ftpPort, row.port);
    EXPECT_EQ(Cache().ftpUser, row.user);
    EXPECT_EQ(Cache().ftpPassword, row.password);
    EXPECT_EQ(Enabled(Page(), IDC_FTP_USER), row.accountOpen);
    EXPECT_EQ(Checked(Page(), IDC_FTP_CUSTOM_ACCOUNT), row.accountOpen);
    page_.reset();
  }
}

TEST_F(FtpSettingsTest, AnUnknownPasswordIsNotWipedByAnotherUser) {
  // A new start: the server keeps a password (its digest came with command 65), this program does not know it.
  Cache().ftpPassword.clear();
  Open();
  Toggle(Page(), IDC_FTP_CUSTOM_ACCOUNT);
  SetDlgItemTextW(Page(), IDC_FTP_USER, L"dave");
  page_->Save();
  EXPECT_EQ(Sent(), std::vector<std::wstring>{});
  EXPECT_EQ(TakeMessages(), std::vector<std::wstring>{L"要修改FTP账号，请重新输入FTP密码"});
  EXPECT_EQ(page_->ItemText(IDC_FTP_USER), L"dave");  // what the user typed stays
  // Typed again, the account goes.
  SetDlgItemTextW(Page(), IDC_FTP_PASSWORD, L"pw2");
  Fake().script = {{0, StatusReply(200)}};
  page_->Save();
  EXPECT_EQ(Sent(), std::vector<std::wstring>{L"66 user=dave password=pw2"});
  EXPECT_EQ(TakeMessages(), std::vector<std::wstring>{kWarning});
}

TEST_F(FtpSettingsTest, SavingByAddressTwiceSendsTheAddressTypeBothTimes) {
  Cache().ftpHostType = 2;
  Cache().ftpHost = L"ftp.example.com";
  Open();
  Click(Page(), IDC_FTP_BY_IP);
  SetIp(Page(), 192, 168, 1, 5);
  Fake().script = {{0, StatusReply(200)}, {0, StatusReply(200)}};
  page_->Save();
  SetDlgItemTextW(Page(), IDC_FTP_PORT, L"2222");
  page_->Save();
  page_->Save();  // nothing changed any more
  EXPECT_EQ(Sent(), (std::vector<std::wstring>{L"68 type=1 host=192.168.1.5 port=2121 bytes=136",
                                                L"68 type=1 host=192.168.1.5 port=2222 bytes=136"}));
  EXPECT_EQ(TakeMessages(), (std::vector<std::wstring>{kWarning, kWarning}));
}

TEST_F(FtpSettingsTest, UndoPutsBackOnlyTheAccount) {
  Open();
  Click(Page(), IDC_FTP_BY_DOMAIN);
  SetDlgItemTextW(Page(), IDC_FTP_DOMAIN, L"typed.example.com");
  SetDlgItemTextW(Page(), IDC_FTP_PORT, L"2200");
  Toggle(Page(), IDC_FTP_CUSTOM_ACCOUNT);
  SetDlgItemTextW(Page(), IDC_FTP_USER, L"typed");
  SetDlgItemTextW(Page(), IDC_FTP_PASSWORD, L"typed-pw");
  page_->Undo();
  // The account is the cached one again, and closed.
  EXPECT_FALSE(Checked(Page(), IDC_FTP_CUSTOM_ACCOUNT));
  EXPECT_FALSE(Enabled(Page(), IDC_FTP_USER));
  EXPECT_FALSE(Enabled(Page(), IDC_FTP_PASSWORD));
  EXPECT_EQ(page_->ItemText(IDC_FTP_USER), L"carol");
  EXPECT_EQ(page_->ItemText(IDC_FTP_PASSWORD), L"pw");
  // The address stays as typed.
  EXPECT_TRUE(Checked(Page(), IDC_FTP_BY_DOMAIN));
  EXPECT_TRUE(Enabled(Page(), IDC_FTP_DOMAIN));
  EXPECT_EQ(page_->ItemText(IDC_FTP_DOMAIN), L"typed.example.com");
  EXPECT_EQ(page_->ItemText(IDC_FTP_PORT), L"2200");
  EXPECT_EQ(SentCodes(), std::vector<int>{});
  // A save then sends the address typed, not the account undone.
  Fake().script = {{0, StatusReply(200)}};
  page_->Save();
  EXPECT_EQ(Sent(), std::vector<std::wstring>{L"68 type=2 host=typed.example.com port=0 bytes=136"});
  EXPECT_EQ(TakeMessages(), std::vector<std::wstring>{kWarning});
}

class P2pSettingsTest : public TabPageTest {
 protected:
  void SetUp() override {
    TabPageTest::SetUp();
    FillCache();
  }
  void FillCache() {
    Cache().p2pMaxUpSpeed = 512;
    Cache().p2pLogLevel = 9;
    Cache().p2pPort = 8001;
  }
  void Open() {
    page_ = std::make_unique<CSvrP2PSetDlg>();
    Place(*page_, {});
    Fake().requests.clear();
  }
  HWND Page() { return page_->Handle(); }
  int Level() { return static_cast<int>(SendDlgItemMessageW(Page(), IDC_P2P_LOG_LEVEL, CB_GETCURSEL, 0, 0)); }
  void TearDown() override {
    page_.reset();
    TabPageTest::TearDown();
  }
  std::unique_ptr<CSvrP2PSetDlg> page_;
};

TEST_F(P2pSettingsTest, ShowsTheCache) {
  struct Row {
    uint16_t level;
    int index;
  } rows[] = {{9, 1}, {8, 2}, {0, 0}, {3, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.level);
    Cache().p2pLogLevel = row.level;
    Open();
    EXPECT_EQ(Level(), row.index);
    EXPECT_EQ(page_->ItemText(IDC_P2P_MAX_SPEED), L"512");
    EXPECT_EQ(page_->ItemText(IDC_P2P_PORT), L"8001");
    page_.reset();
  }
  Open();
  std::vector<std::wstring> items;
  for (int i = 0; i < 3; ++i) {
    wchar_t text[64] = {};
    SendDlgItemMessageW(Page(), IDC_P2P_LOG_LEVEL, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  EXPECT_EQ(items, (std::vector<std::wstring>{L"不打印日志", L"简单日志", L"详细日志"}));
  EXPECT_EQ(SendDlgItemMessageW(Page(), IDC_P2P_MAX_SPEED, EM_GETLIMITTEXT, 0, 0), 6);
  EXPECT_EQ(SendDlgItemMessageW(Page(), IDC_P2P_PORT, EM_GETLIMITTEXT, 0, 0), 5);
}

TEST_F(P2pSettingsTest, SaveChecksSendsAndSaysWhatWasRefused) {
  const std::wstring refusedPort = L"\u4e0d\u80fd\u521d\u59cb\u5316\u6b64\u7aef\u53e3";  // the server's text
  struct Row {
    const char* name;
    const wchar_t *speed, *port;
    int level;
    std::deque<FakeExchange> replies;
    std::vector<std::wstring> sent;
    std::vector<std::pair<std::wstring, std::wstring>> boxes;  // caption, text
    const wchar_t *speedShown, *portShown;
    uint32_t cachedSpeed;
    uint16_t cachedLevel, cachedPort;
  } rows[] = {
      {"nothing changed", L"512", L"8001", 1, {}, {}, {}, L"512", L"8001", 512, 9, 8001},
      {"a speed of 0 is sent as no limit", L"0", L"8001", 1, {{0, StatusReply(200)}}, {L"114 0 bytes=6"}, {}, L"0",
       L"8001", 0, 9, 8001},
      {"an empty speed gets the cached one back", L"", L"8001", 1, {}, {}, {}, L"512", L"8001", 512, 9, 8001},
      {"a speed that is no number", L"12a", L"8001", 1, {}, {},
       {{L"OrchardUI", L"最大上传速度必须是0到999999之间的数字(KB/S)"}}, L"12a", L"8001", 512, 9, 8001},
      {"detailed log", L"512", L"8001", 2, {{0, StatusReply(200)}}, {L"115 8 bytes=4"}, {}, L"512", L"8001", 512, 8,
       8001},
      {"port 70000 is refused before anything is sent", L"100", L"70000", 2, {}, {},
       {{L"OrchardUI", L"端口必须是1到65535之间的数字"}}, L"100", L"70000", 512, 9, 8001},
      {"another port", L"512", L"9000", 1, {{0, StatusReply(200)}}, {L"116 9000 bytes=4"}, {}, L"512", L"9000", 512,
       9, 9000},
      {"a port the server cannot open: its text without a caption, and the cached port back", L"512", L"9000", 1,
       {{0, StatusReply(501, Utf16Field(u"\u4e0d\u80fd\u521d\u59cb\u5316\u6b64\u7aef\u53e3", 64))}},
       {L"116 9000 bytes=4"}, {{L"", refusedPort}}, L"512", L"8001", 512, 9, 8001},
      {"the core not logged in yet", L"512", L"9000", 1, {{0, StatusReply(502)}}, {L"116 9000 bytes=4"},
       {{L"", L"服务的P2P模块尚未登录，端口没有修改，请稍后再试"}}, L"512", L"8001", 512, 9, 8001},
      {"a refused speed stays as typed beside a refused port", L"100", L"9000", 1,
       {{0, StatusReply(501)}, {2, {}}},
       {L"114 100 bytes=6", L"116 9000 bytes=4"},
       {{L"OrchardUI", L"服务没有接受此设置(501)"}, {L"", kUnreachable}}, L"100", L"8001", 512, 9, 8001},
      {"one lost on the way leaves the others saved", L"100", L"9000", 0,
       {{2, {}}, {0, StatusReply(200)}, {0, StatusReply(200)}},
       {L"114 100 bytes=6", L"115 0 bytes=4", L"116 9000 bytes=4"}, {{L"OrchardUI", kUnreachable}}, L"100", L"9000",
       512, 0, 9000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FillCache();
    Open();
    SetDlgItemTextW(Page(), IDC_P2P_MAX_SPEED, row.speed);
    SetDlgItemTextW(Page(), IDC_P2P_PORT, row.port);
    SendDlgItemMessageW(Page(), IDC_P2P_LOG_LEVEL, CB_SETCURSEL, static_cast<WPARAM>(row.level), 0);
    Fake().script = row.replies;
    page_->Save();
    Pump();
    EXPECT_EQ(Sent(), row.sent);
    EXPECT_EQ(TakeBoxes(), row.boxes);
    EXPECT_EQ(page_->ItemText(IDC_P2P_MAX_SPEED), row.speedShown);
    EXPECT_EQ(page_->ItemText(IDC_P2P_PORT), row.portShown);
    EXPECT_EQ(Cache().p2pMaxUpSpeed, row.cachedSpeed);
    EXPECT_EQ(Cache().p2pLogLevel, row.cachedLevel);
    EXPECT_EQ(Cache().p2pPort, row.cachedPort);
    page_.reset();
  }
}

TEST_F(P2pSettingsTest, UndoShowsTheCacheAgain) {
  Open();
  SetDlgItemTextW(Page(), IDC_P2P_MAX_SPEED, L"7");
  SetDlgItemTextW(Page(), IDC_P2P_PORT, L"1");
  SendDlgItemMessageW(Page(), IDC_P2P_LOG_LEVEL, CB_SETCURSEL, 2, 0);
  page_->Undo();
  EXPECT_EQ(page_->ItemText(IDC_P2P_MAX_SPEED), L"512");
  EXPECT_EQ(page_->ItemText(IDC_P2P_PORT), L"8001");
  EXPECT_EQ(Level(), 1);
}

}  // namespace
