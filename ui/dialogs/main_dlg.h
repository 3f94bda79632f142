// CMainDlg: the one top-level window of OrchardUI. Tabs with the pages, a menu
// with the service controls and help, a status bar and a tray icon; closing
// hides it to the tray. It polls the server with command 81 on a timer.
#pragma once
#include <windows.h>

#include <memory>

#include "platform/wtl/dialog.h"
#include "platform/wtl/message_loop.h"
#include "platform/wtl/status_bar.h"
#include "platform/wtl/tab_control.h"
#include "ui/dialogs/main_pages.h"
#include "ui/layout/dialog_layout.h"
#include "ui/res/resource.h"

constexpr UINT kTrayCallbackMessage = WM_USER + 999;  // 2023
constexpr UINT kExitMessage = WM_APP + 999;           // the close broadcast
constexpr UINT kTrayIconId = 123;
constexpr UINT_PTR kPollTimer = 10;
constexpr UINT kPollPeriodMs = 2000;
constexpr UINT kPollPeriodAfterStartMs = 1000;

class CMainDlg : public wtl::CModelessDialog, public wtl::CMessageFilter {
 public:
  CMainDlg() : CModelessDialog(IDD_MAINDLG), layout_(IDD_MAINDLG) {}

  bool PreTranslateMessage(MSG* message) override { return wtl::DialogMessageFilter(hwnd_, message); }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(int id, NMHDR* header, LRESULT& result) override;
  bool OnTimer(UINT_PTR id) override;
  bool OnSize(UINT type, int width, int height) override;
  bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;

 private:
  void InitControls();
  void LayoutControls();
  void ShowPage(int index);
  void ConnectService();
  void OnServiceControl();
  void OnTrayNotify(UINT mouseMessage);
  void OnOpen();
  void OnSwitchSite();
  void OnAbout();
  void OnExit();
  void SetServiceMenu(bool connected);

  CDialogLayout layout_;
  HMENU menu_ = nullptr;
  wtl::CTabControl tab_;
  wtl::CStatusBar status_;
  HICON statusIcon_ = nullptr;
  HICON statusIconAlt_ = nullptr;
  HICON trayIcon_ = nullptr;
  int current_ = -1;
  std::unique_ptr<wtl::CModelessDialog> pages_[kMainPageCount];
};

// The main dialog while it exists, else null.
CMainDlg* MainDialog();
