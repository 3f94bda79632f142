// The main dialog in process against a scripted channel: the service menu's
// states through poll, stop and start, every order of stop, start and switch
// site, the windows that must not poll, the minimum size and the exit message.
#include "ui/dialogs/main_dlg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ui/app/res_string.h"
#include "ui/client/tests/client_fixture.h"
#include "ui/client/control_client.h"
#include "ui/settings_tab/svr_info_dlg.h"
#include "ui/client_settings/settings_cache.h"
#include "ui/client_settings/ui_config.h"

namespace {

std::vector<int> SentCodes() {
  std::vector<int> codes;
  for (const auto& r : Fake().requests) codes.push_back(r.size() >= 2 ? r[0] | (r[1] << 8) : -1);
  return codes;
}

bool Grayed(HWND window, UINT id) { return (GetMenuState(GetMenu(window), id, MF_BYCOMMAND) & MF_GRAYED) != 0; }

class MainDialogTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    DialogLayoutStartup();
    ResetSettingsCache();
    ASSERT_NE(dialog_.Create(nullptr), nullptr);
    hwnd_ = dialog_.Handle();
    ShowWindow(hwnd_, SW_SHOW);
  }
  void TearDown() override {
    if (IsWindow(hwnd_)) SendMessageW(hwnd_, kExitMessage, 0, 0);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
    }
    DialogLayoutShutdown();
    ClientTest::TearDown();
  }
  void Poll() { SendMessageW(hwnd_, WM_TIMER, kPollTimer, 0); }
  void ScriptFirstPoll() {
    Fake().script = {{0, StatusReply(200, std::vector<uint8_t>(148, 0))},
                     {0, StatusReply(200, std::vector<uint8_t>(260, 0))},
                     {0, StatusReply(200, std::vector<uint8_t>(130, 0))},
                     {0, StatusReply(200, {0, 1, 0, 0, 8, 0, 0x41, 0x1F})}};
  }

  CMainDlg dialog_;
  HWND hwnd_ = nullptr;
};

TEST_F(MainDialogTest, ServiceMenuFollowsPollStopAndStart) {
  EXPECT_TRUE(Grayed(hwnd_, ID_SERVICE_START));
  EXPECT_TRUE(Grayed(hwnd_, ID_SERVICE_STOP));

  Fake().script = {{0, StatusReply(502)}};
  Poll();  // a refused poll changes nothing
  EXPECT_EQ(SentCodes(), (std::vector<int>{81}));
  EXPECT_FALSE(IsConnected());
  EXPECT_TRUE(Grayed(hwnd_, ID_SERVICE_START));
  EXPECT_TRUE(Grayed(hwnd_, ID_SERVICE_STOP));

  Fake().requests.clear();
  ScriptFirstPoll();
  Poll();
  EXPECT_EQ(SentCodes(), (std::vector<int>{81, 65, 67, 113}));
  EXPECT_TRUE(IsConnected());
  EXPECT_EQ(Cache().p2pPort, 8001);
  EXPECT_TRUE(Grayed(hwnd_, ID_SERVICE_START));
  EXPECT_FALSE(Grayed(hwnd_, ID_SERVICE_STOP));

  Fake().requests.clear();
  Fake().script = {{0, StatusReply(200, std::vector<uint8_t>(148, 0))}};
  Poll();  // later polls read only the server information
  EXPECT_EQ(SentCodes(), (std::vector<int>{81}));

  Fake().requests.clear();
  Fake().script = {{0, StatusReply(200)}};
  SendMessageW(hwnd_, WM_COMMAND, ID_SERVICE_STOP, 0);
  EXPECT_EQ(SentCodes(), (std::vector<int>{129}));
  EXPECT_FALSE(IsConnected());
  EXPECT_FALSE(Grayed(hwnd_, ID_SERVICE_START));
  EXPECT_TRUE(Grayed(hwnd_, ID_SERVICE_STOP));

  Fake().requests.clear();
  ScriptFirstPoll();
  SendMessageW(hwnd_, WM_COMMAND, ID_SERVICE_START, 0);  // polls at once
  EXPECT_EQ(SentCodes(), (std::vector<int>{81, 65, 67, 113}));
  EXPECT_TRUE(Grayed(hwnd_, ID_SERVICE_START));
  EXPECT_FALSE(Grayed(hwnd_, ID_SERVICE_STOP));
}

TEST_F(MainDialogTest, HiddenOrMinimisedDoesNotPoll) {
  struct Row {
    const char* name;
    int show;
    size_t requests;
  } rows[] = {{"hidden", SW_HIDE, 0}, {"minimised", SW_MINIMIZE, 0}, {"restored", SW_RESTORE, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Fake().requests.clear();
    Fake().script = {{0, StatusReply(502)}};
    ShowWindow(hwnd_, row.show);
    Poll();
    EXPECT_EQ(Fake().requests.size(), row.requests);
  }
  SendMessageW(hwnd_, WM_CLOSE, 0, 0);  // close hides to the tray
  EXPECT_TRUE(IsWindow(hwnd_));
  EXPECT_FALSE(IsWindowVisible(hwnd_));
  SendMessageW(hwnd_, kTrayCallbackMessage, 0, WM_LBUTTONDBLCLK);
  EXPECT_TRUE(IsWindowVisible(hwnd_));
}

TEST_F(MainDialogTest, MinimumSizeAndExit) {
  SetWindowPos(hwnd_, nullptr, 0, 0, 300, 200, SWP_NOZORDER);
  RECT r{};
  GetWindowRect(hwnd_, &r);
  EXPECT_GE(r.right - r.left, 800);
  EXPECT_GE(r.bottom - r.top, 600);
  EXPECT_EQ(::MainDialog(), &dialog_);

  SendMessageW(hwnd_, kExitMessage, 0, 0);
  EXPECT_FALSE(IsWindow(hwnd_));
  EXPECT_EQ(::MainDialog(), nullptr);
  MSG m;
  bool quit = false;
  while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) quit = quit || m.message == WM_QUIT;
  EXPECT_TRUE(quit);
}

// A server that is always there: every command answered with 200 and its fields zero, the P2P port 8001.
FakeExchange RunningServer(const std::vector<uint8_t>& request) {
  switch (request.size() >= 2 ? request[0] | (request[1] << 8) : -1) {
    case 81:
      return {0, StatusReply(200, std::vector<uint8_t>(148, 0))};
    case 82:
      return {0, StatusReply(200, std::vector<uint8_t>(256, 0))};
    case 83:
      return {0, StatusReply(200, std::vector<uint8_t>(28, 0))};
    case 65:
      return {0, StatusReply(200, std::vector<uint8_t>(260, 0))};
    case 67:
      return {0, StatusReply(200, std::vector<uint8_t>(130, 0))};
    case 113:
      return {0, StatusReply(200, {0, 1, 0, 0, 8, 0, 0x41, 0x1F})};
    default:
      return {0, StatusReply(200)};
  }
}

struct InfoSearch {
  HWND state = nullptr;
};

BOOL CALLBACK FindInfoState(HWND window, LPARAM param) {
  if (GetDlgCtrlID(window) != IDC_INFO_STATE) return TRUE;
  reinterpret_cast<InfoSearch*>(param)->state = window;
  return FALSE;
}

// What the user does to the connection, each through its menu.
enum class Action { kStop, kStart, kSwitchSite };

const char* Name(Action action) {
  switch (action) {
    case Action::kStop:
      return "stop";
    case Action::kStart:
      return "start";
    default:
      return "switch site";
  }
}

// The main dialog of each row made anew, as the program starts it; the
// connect dialog of "switch site" logs in to the automatic site at once.
class ConnectionOrderTest : public ClientTest {
 protected:
  void SetUp() override {
    ClientTest::SetUp();
    DialogLayoutStartup();
    Config() = UiConfig();
    Site site;
    site.address = u"127.0.0.1";
    site.port = 9090;
    site.autoLogin = 1;
    Config().sites = {site};
    Config().lastConn = L"127.0.0.1";
  }
  void TearDown() override {
    Config() = UiConfig();
    DialogLayoutShutdown();
    ClientTest::TearDown();
  }

  // Runs the thread's messages for up to `ms` or until done() holds.
  template <class Done>
  static bool PumpUntil(Done done, DWORD ms) {
    const DWORD start = GetTickCount();
    while (!done()) {
      if (GetTickCount() - start > ms) return false;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      MSG m;
      while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&m);
        DispatchMessageW(&m);
      }
    }
    return true;
  }

  static bool Polled() {
    const std::vector<int> codes = SentCodes();
    return std::find(codes.begin(), codes.end(), 81) != codes.end();
  }

  // Chooses the action's menu item as the user would: a greyed item cannot be chosen.
  static bool Choose(HWND window, Action action) {
    UINT id = action == Action::kStop ? ID_SERVICE_STOP : action == Action::kStart ? ID_SERVICE_START
                                                                                    : ID_TRAY_SWITCH_SITE;
    if (action != Action::kSwitchSite && Grayed(window, id)) return false;  // the tray's entry is always there
    SendMessageW(window, WM_COMMAND, id, 0);
    return true;
  }

  static std::wstring InfoState(HWND window) {
    InfoSearch search;
    EnumChildWindows(window, FindInfoState, reinterpret_cast<LPARAM>(&search));
    if (search.state == nullptr) return L"<no information page>";
    SendMessageW(GetParent(search.state), WM_TIMER, kInfoTimer, 0);
    wchar_t text[64] = {};
    GetWindowTextW(search.state, text, 64);
    return text;
  }
};

TEST_F(ConnectionOrderTest, AfterEveryOrderOfStopStartAndSwitchSiteTheServerCanBeStartedAndIsPolled) {
  std::vector<Action> order = {Action::kStop, Action::kStart, Action::kSwitchSite};
  std::sort(order.begin(), order.end());
  do {
    std::string name;
    for (Action a : order) name += std::string(name.empty() ? "" : ", ") + Name(a);
    SCOPED_TRACE(name);
    Fake() = FakeChannel();
    Fake().answer = RunningServer;
    ResetSettingsCache();
    SetConnected(false);
    CMainDlg dialog;
    ASSERT_NE(dialog.Create(nullptr), nullptr);
    HWND window = dialog.Handle();
    ShowWindow(window, SW_SHOW);
    SendMessageW(window, WM_TIMER, kPollTimer, 0);
    ASSERT_TRUE(IsConnected());

    std::string done;
    for (Action a : order) {
      if (Choose(window, a)) done += std::string(done.empty() ? "" : ", ") + Name(a);
    }
    SCOPED_TRACE("chosen: " + done);
    // The user starts the server when the menu offers it.
    Choose(window, Action::kStart);
    Fake().requests.clear();
    EXPECT_TRUE(PumpUntil(Polled, 3000)) << "no poll came on the window's timer";
    EXPECT_TRUE(IsConnected());
    EXPECT_TRUE(Grayed(window, ID_SERVICE_START));
    EXPECT_FALSE(Grayed(window, ID_SERVICE_STOP));
    EXPECT_EQ(InfoState(window), LoadResString(IDS_SERVICE_STARTED));
    EXPECT_EQ(Cache().p2pPort, 8001) << "the settings the server gave";

    SendMessageW(window, kExitMessage, 0, 0);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
  } while (std::next_permutation(order.begin(), order.end()));
}

}  // namespace
