// The settings container and its two server pages in process against the
// scripted channel: choosing and placing the pages, the information page's
// texts connected and not, the operating-system text fetched once per
// connection, the status page's figures, and hidden pages sending nothing.
#include <cstring>
#include <deque>
#include <memory>

#include "ui/client/control_client.h"
#include "ui/settings_tab/config_dlg.h"
#include "ui/peer_lists/tests/tab_page_fixture.h"
#include "ui/client_settings/settings_cache.h"

namespace {

std::vector<uint8_t> SystemReply(const std::u16string& os, const std::u16string& cpu) {
  SystemInfoBlock block{};
  std::memcpy(block.os, os.data(), 2 * std::min<size_t>(os.size(), kNameUnits));
  std::memcpy(block.cpu, cpu.data(), 2 * std::min<size_t>(cpu.size(), kNameUnits));
  return BlockReply(block);
}

std::vector<uint8_t> PerformanceReply(uint32_t total, uint32_t free, uint32_t virt) {
  PerformanceBlock block{};
  block.totalPhys = total;
  block.availPhys = free;
  block.availVirtual = virt;
  return BlockReply(block);
}

class ServerInfoTest : public TabPageTest {
 protected:
  void Open() {
    page_ = std::make_unique<CSvrInfoDlg>();
    Place(*page_, {kInfoTimer});
  }
  void Tick() { SendMessageW(page_->Handle(), WM_TIMER, kInfoTimer, 0); }
  std::vector<std::wstring> Shown() {
    std::vector<std::wstring> texts;
    for (int id : {IDC_INFO_STATE, IDC_INFO_NODE, IDC_INFO_ADDRESS, IDC_INFO_DIRS, IDC_INFO_FILES, IDC_INFO_OS,
                   IDC_INFO_CPU, IDC_INFO_TOTAL_MEMORY, IDC_INFO_FREE_MEMORY, IDC_INFO_FREE_VIRTUAL}) {
      texts.push_back(page_->ItemText(id));
    }
    return texts;
  }
  void Connect() {
    SetConnected(true);
    ServerInfoBlock& info = ServerInfo();
    info.nodeId = 0x1'0000'0001ULL;
    const uint8_t address[4] = {203, 0, 113, 9};
    std::memcpy(&info.publicIp, address, 4);
    info.dirCount = 4;
    info.shareCount = 3001;
  }
  void TearDown() override {
    page_.reset();
    TabPageTest::TearDown();
  }
  std::unique_ptr<CSvrInfoDlg> page_;
};

const std::vector<std::wstring> kStopped = {L"服务已停止", L"0", L"0.0.0.0", L"0", L"0", L"0", L"0", L"0GB", L"0GB", L"0GB"};

TEST_F(ServerInfoTest, WithoutAServerNothingIsSent) {
  Open();
  Tick();
  EXPECT_EQ(Shown(), kStopped);
  EXPECT_EQ(SentCodes(), std::vector<int>{});
}

TEST_F(ServerInfoTest, TheSystemTextIsFetchedOncePerConnection) {
  Open();
  Connect();
  struct Row {
    const char* name;
    bool connected, visible;
    std::deque<FakeExchange> replies;
    std::vector<int> sent;
    std::vector<std::wstring> shown;
  } rows[] = {
      {"first tick while connected",
       true,
       true,
       {{0, PerformanceReply(0xFFFFFFFF, 1536000, 999)}, {0, SystemReply(u"6.1.0.7601 Service Pack 1", u"Intel(R) Xeon(R) CPU")}},
       {83, 82},
       {L"服务已启动", L"4294967297", L"203.0.113.9", L"4", L"3001", L"6.1.0.7601 Service Pack 1",
        L"Intel(R) Xeon(R) CPU", L"4.00 GB", L"1.46 MB", L"999 B"}},
      {"the next tick reads the memory only",
       true,
       true,
       {{0, PerformanceReply(2048, 1024, 512)}},
       {83},
       {L"服务已启动", L"4294967297", L"203.0.113.9", L"4", L"3001", L"6.1.0.7601 Service Pack 1",
        L"Intel(R) Xeon(R) CPU", L"2.00 KB", L"1.00 KB", L"512 B"}},
      {"a refused memory read leaves the figures", true, true, {{0, StatusReply(502)}}, {83},
       {L"服务已启动", L"4294967297", L"203.0.113.9", L"4", L"3001", L"6.1.0.7601 Service Pack 1",
        L"Intel(R) Xeon(R) CPU", L"2.00 KB", L"1.00 KB", L"512 B"}},
      {"hidden: nothing", true, false, {}, {}, {}},
      {"stopped: the texts of no server and the system text forgotten", false, true, {}, {}, kStopped},
      {"connected again: fetched again",
       true,
       true,
       {{0, PerformanceReply(1, 2, 3)}, {0, SystemReply(u"10.0.0.19045 ", std::u16string(70, u'C'))}},
       {83, 82},
       {L"服务已启动", L"4294967297", L"203.0.113.9", L"4", L"3001", L"10.0.0.19045 ", std::wstring(64, L'C'),
        L"1 B", L"2 B", L"3 B"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    SetConnected(row.connected);
    page_->Show(row.visible ? SW_SHOW : SW_HIDE);
    Fake().requests.clear();
    Fake().script = row.replies;
    Tick();
    EXPECT_EQ(SentCodes(), row.sent);
    if (!row.shown.empty()) {
      EXPECT_EQ(Shown(), row.shown);
    }
  }
}

TEST_F(ServerInfoTest, AFailedSystemReadIsTriedAgain) {
  Open();
  Connect();
  Fake().script = {{0, PerformanceReply(1, 1, 1)}, {0, StatusReply(200)}};  // 200 alone: GetVersionExW failed
  Tick();
  Fake().requests.clear();
  Fake().script = {{0, PerformanceReply(1, 1, 1)}, {0, SystemReply(u"6.1", u"cpu")}};
  Tick();
  EXPECT_EQ(SentCodes(), (std::vector<int>{83, 82}));
  EXPECT_EQ(page_->ItemText(IDC_INFO_OS), L"6.1");
}

class ServerStatusTest : public TabPageTest {
 protected:
  void TearDown() override {
    page_.reset();
    TabPageTest::TearDown();
  }
  void Tick() { SendMessageW(page_->Handle(), WM_TIMER, kStatusTimer, 0); }
  std::unique_ptr<CSvrStatusDLg> page_;
};

std::vector<uint8_t> FtpReply(uint64_t sent, uint64_t received, uint32_t users) {
  FtpStatistics block{};
  block.first = sent;
  block.second = received;
  block.connections = users;
  return BlockReply(block);
}

std::vector<uint8_t> P2pReply(uint64_t total, uint32_t speed, uint64_t hits) {
  std::vector<uint8_t> body(80, 0);
  std::memcpy(&body[0], &total, 8);
  std::memcpy(&body[12], &speed, 4);
  std::memcpy(&body[24 + 8], &hits, 8);
  return StatusReply(200, body);
}

TEST_F(ServerStatusTest, FiguresRefreshWhileVisible) {
  Fake().script = {{0, StatusReply(502)}, {0, StatusReply(502)}};
  page_ = std::make_unique<CSvrStatusDLg>();
  Place(*page_, {kStatusTimer});
  EXPECT_EQ(SentCodes(), (std::vector<int>{69, 117}));
  // Nothing answered yet: the start texts.
  EXPECT_EQ(page_->ItemText(IDC_STATUS_P2P_SENT), L"0B");
  EXPECT_EQ(page_->ItemText(IDC_STATUS_P2P_SPEED), L"0B/s");
  EXPECT_EQ(page_->ItemText(IDC_STATUS_DISK_SPEED), L"0/S");
  struct Row {
    const char* name;
    bool visible;
    std::deque<FakeExchange> replies;
    std::vector<int> sent;
    const wchar_t *ftpSent, *p2pSent, *speed, *hits;
  } rows[] = {
      {"counters beyond 32 bits", true, {{0, FtpReply(0x1'0000'0005ULL, 7, 2)}, {0, P2pReply(6ULL << 30, 262144, 1ULL << 33)}},
       {69, 117}, L"4294967301", L"6.00 GB", L"256.00 KB/S", L"8589934592"},
      {"hidden: nothing", false, {}, {}, L"4294967301", L"6.00 GB", L"256.00 KB/S", L"8589934592"},
      {"a core that gives no statistics leaves the P2P figures", true, {{0, FtpReply(9, 9, 0)}, {0, {}}}, {69, 117},
       L"9", L"6.00 GB", L"256.00 KB/S", L"8589934592"},
      {"no server: every figure stays", true, {{2, {}}, {2, {}}}, {69, 117}, L"9", L"6.00 GB", L"256.00 KB/S",
       L"8589934592"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    page_->Show(row.visible ? SW_SHOW : SW_HIDE);
    Fake().requests.clear();
    Fake().script = row.replies;
    Tick();
    EXPECT_EQ(SentCodes(), row.sent);
    EXPECT_EQ(page_->ItemText(IDC_STATUS_FTP_SENT), row.ftpSent);
    EXPECT_EQ(page_->ItemText(IDC_STATUS_P2P_SENT), row.p2pSent);
    EXPECT_EQ(page_->ItemText(IDC_STATUS_P2P_SPEED), row.speed);
    EXPECT_EQ(page_->ItemText(IDC_STATUS_CACHE_HITS), row.hits);
  }
}

class ConfigContainerTest : public TabPageTest {
 protected:
  void TearDown() override {
    page_.reset();
    TabPageTest::TearDown();
  }
  RECT RectIn(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, page_->Handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  bool Visible(int id) { return IsWindowVisible(page_->Item(id)) != FALSE; }
  std::unique_ptr<CConfigDlg> page_;
};

TEST_F(ConfigContainerTest, SelectorChoosesAndPlacesThePages) {
  page_ = std::make_unique<CConfigDlg>();
  Place(*page_, {});
  EXPECT_EQ(page_->CurrentPage(), kPageInfo);
  EXPECT_NE(page_->InfoPage(), nullptr);
  EXPECT_EQ(page_->StatusPage(), nullptr);  // created on first use
  struct Row {
    const char* name;
    int button;
    int page;
    bool buttons;
  } rows[] = {
      {"status", IDC_SELECT_STATUS, kPageStatus, false}, {"FTP", IDC_SELECT_FTP, kPageFtp, true},
      {"P2P", IDC_SELECT_P2P, kPageP2p, true},           {"information", IDC_SELECT_INFO, kPageInfo, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().script = {{0, StatusReply(502)}, {0, StatusReply(502)}};  // the status page's first refresh
    Click(page_->Selector().Handle(), row.button);
    EXPECT_EQ(page_->CurrentPage(), row.page);
    EXPECT_EQ(Visible(IDC_CONFIG_SAVE), row.buttons);
    EXPECT_EQ(Visible(IDC_CONFIG_UNDO), row.buttons);
    wtl::CModelessDialog* pages[] = {page_->InfoPage(), page_->StatusPage(), page_->FtpPage(), page_->P2pPage()};
    for (int i = 0; i < 4; ++i) {
      if (pages[i] != nullptr) {
        EXPECT_EQ(pages[i]->IsVisible(), i + 1 == row.page) << "page " << i + 1;
      }
    }
  }
  // The selector at the left, 100 pixels wide; each page beside it, ending above the buttons.
  RECT client{}, selector = RectIn(page_->Selector().Handle()), info = RectIn(page_->InfoPage()->Handle());
  RECT ftp = RectIn(page_->FtpPage()->Handle()), save = RectIn(page_->Item(IDC_CONFIG_SAVE));
  GetClientRect(page_->Handle(), &client);
  EXPECT_EQ(selector.left, 2);
  EXPECT_EQ(selector.top, 2);
  EXPECT_EQ(selector.right - selector.left, kSelectorWidth);
  EXPECT_EQ(selector.bottom, client.bottom - 2);
  EXPECT_EQ(info.left, selector.right + 2);
  EXPECT_EQ(info.right, client.right - 2);
  EXPECT_LT(info.bottom, save.top);
  EXPECT_EQ(ftp.left, info.left);
  EXPECT_EQ(ftp.bottom, info.bottom);
  // The buttons keep their place at the lower right when the container grows.
  const int fromRight = client.right - save.right, fromBottom = client.bottom - save.bottom;
  page_->Move(0, 0, client.right + 100, client.bottom + 60);
  GetClientRect(page_->Handle(), &client);
  save = RectIn(page_->Item(IDC_CONFIG_SAVE));
  EXPECT_EQ(client.right - save.right, fromRight);
  EXPECT_EQ(client.bottom - save.bottom, fromBottom);
  EXPECT_EQ(RectIn(page_->InfoPage()->Handle()).right, client.right - 2);
}

TEST_F(ConfigContainerTest, SaveAndUndoActOnTheEditingPageShown) {
  page_ = std::make_unique<CConfigDlg>();
  Place(*page_, {});
  Cache().p2pMaxUpSpeed = 512;
  page_->SelectPage(kPageP2p);
  SetDlgItemTextW(page_->P2pPage()->Handle(), IDC_P2P_MAX_SPEED, L"100");
  page_->SelectPage(kPageInfo);
  Fake().requests.clear();
  Click(page_->Handle(), IDC_CONFIG_SAVE);  // the information page has nothing to save
  Click(page_->Handle(), IDC_CONFIG_UNDO);
  EXPECT_EQ(SentCodes(), std::vector<int>{});
  EXPECT_EQ(page_->P2pPage()->ItemText(IDC_P2P_MAX_SPEED), L"100");
  page_->SelectPage(kPageFtp);
  Click(page_->Handle(), IDC_CONFIG_UNDO);  // the FTP page's undo leaves the P2P page alone
  EXPECT_EQ(page_->P2pPage()->ItemText(IDC_P2P_MAX_SPEED), L"100");
  page_->SelectPage(kPageP2p);
  Click(page_->Handle(), IDC_CONFIG_UNDO);
  EXPECT_EQ(page_->P2pPage()->ItemText(IDC_P2P_MAX_SPEED), L"512");
  SetDlgItemTextW(page_->P2pPage()->Handle(), IDC_P2P_MAX_SPEED, L"100");
  Fake().script = {{0, StatusReply(200)}};
  Click(page_->Handle(), IDC_CONFIG_SAVE);
  EXPECT_EQ(SentCodes(), std::vector<int>{114});
  EXPECT_EQ(Cache().p2pMaxUpSpeed, 100u);
}

}  // namespace
