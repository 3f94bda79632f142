// The main dialog in process against a scripted channel: the service menu's
// states through poll, stop and start, the windows that must not poll, the
// minimum size and the exit message.
#include "ui/dialogs/main_dlg.h"

#include <gtest/gtest.h>

#include "ui/client/tests/client_fixture.h"
#include "ui/client/control_client.h"
#include "ui/settings/settings_cache.h"

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

}  // namespace
