// The main dialog's handlers: tabs and pages, tray, the poll of command 81
// and the service start and stop from the menu.
#include "ui/dialogs/main_dlg.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "foundation/util/path_ops.h"
#include "platform/wtl/menu.h"
#include "platform/wtl/module.h"
#include "ui/app/run_ui.h"
#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/dialogs/about_dlg.h"
#include "ui/dialogs/conn_dlg.h"
#include "ui/client_settings/settings_cache.h"
#include "ui/client_settings/ui_log.h"

namespace {
CMainDlg* g_mainDialog = nullptr;

const wchar_t kFeedbackPage[] = L"http://127.0.0.1/orchard/feedback.html";

HICON LoadSmallIcon(int id) {
  return static_cast<HICON>(LoadImageW(wtl::ModuleInstance(), MAKEINTRESOURCEW(id), IMAGE_ICON,
                                       GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
}

NOTIFYICONDATAW TrayRecord(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = owner;
  data.uID = kTrayIconId;
  return data;
}
}  // namespace

CMainDlg* MainDialog() { return g_mainDialog; }

BOOL CMainDlg::OnInitDialog() {
  layout_.Start(hwnd_);
  layout_.Add(IDC_MAIN_TAB, kAnchorAll);

  Center(nullptr);
  HICON big = static_cast<HICON>(LoadImageW(wtl::ModuleInstance(), MAKEINTRESOURCEW(IDI_MAINFRAME), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  trayIcon_ = LoadSmallIcon(IDI_MAINFRAME);
  Send(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  Send(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(trayIcon_));

  if (wtl::ThreadLoop() != nullptr) wtl::ThreadLoop()->AddFilter(this);
  g_mainDialog = this;
  InitControls();
  ShowPage(3);
  ConnectService();
  SetTimer(hwnd_, kPollTimer, kPollPeriodMs, nullptr);
  return TRUE;
}

void CMainDlg::InitControls() {
  menu_ = LoadMenuW(wtl::ResourceInstance(), MAKEINTRESOURCEW(IDR_MAINMENU));
  if (menu_ != nullptr) SetMenu(hwnd_, menu_);
  SetServiceMenu(false);
  EnableMenuItem(menu_, ID_SERVICE_START, MF_BYCOMMAND | MF_GRAYED);

  tab_.Attach(Item(IDC_MAIN_TAB));
  if (tab_.Handle() != nullptr) {
    tab_.ModifyStyle(0, WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    const unsigned titles[kMainPageCount] = {IDS_TAB_FILES, IDS_TAB_USERS, IDS_TAB_UPLOADS, IDS_TAB_SETTINGS};
    for (int i = 0; i < kMainPageCount; ++i) tab_.InsertItem(i, LoadResString(titles[i]));
    tab_.SetMinTabWidth(100);
  }

  statusIcon_ = LoadSmallIcon(IDI_STATUS);
  statusIconAlt_ = LoadSmallIcon(IDI_STATUS_ALT);
  if (status_.Create(hwnd_, WS_CHILD | WS_VISIBLE | CCS_BOTTOM | SBARS_SIZEGRIP, wtl::ModuleInstance())) {
    const int parts[2] = {22, -1};
    status_.SetParts(2, parts);
    status_.SetIcon(0, statusIcon_);
  }

  NOTIFYICONDATAW tray = TrayRecord(hwnd_);
  tray.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  tray.uCallbackMessage = kTrayCallbackMessage;
  tray.hIcon = trayIcon_;
  std::wstring tip = LoadResString(IDS_APP_NAME);
  wcsncpy(tray.szTip, tip.c_str(), 127);
  Shell_NotifyIconW(NIM_ADD, &tray);
}

void CMainDlg::SetServiceMenu(bool connected) {
  if (menu_ == nullptr) return;
  EnableMenuItem(menu_, ID_SERVICE_START, MF_BYCOMMAND | (connected ? MF_GRAYED : MF_ENABLED));
  EnableMenuItem(menu_, ID_SERVICE_STOP, MF_BYCOMMAND | (connected ? MF_ENABLED : MF_GRAYED));
  DrawMenuBar(hwnd_);
}

bool CMainDlg::OnSize(UINT /*type*/, int width, int height) {
  layout_.OnSize(width, height, false);
  LayoutControls();
  return true;
}

void CMainDlg::LayoutControls() {
  if (tab_.Handle() == nullptr) return;
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (status_.Handle() != nullptr) status_.Move(0, client.bottom - 20, client.right, 20);
  RECT tabRect{0, 0, client.right, client.bottom - 16};
  tab_.Move(tabRect.left, tabRect.top, tabRect.right - tabRect.left, tabRect.bottom - tabRect.top);
  tab_.AdjustRect(&tabRect);
  for (auto& page : pages_) {
    if (page != nullptr && page->Handle() != nullptr) {
      page->Move(tabRect.left, tabRect.top, tabRect.right - tabRect.left, tabRect.bottom - tabRect.top);
    }
  }
  // A move keeps the pixels of the bar that still fit and draws only what is
  // new, but the bar's last part and its grip follow the width: drawn whole.
  if (status_.Handle() != nullptr) status_.Invalidate();
}

void CMainDlg::ShowPage(int index) {
  if (tab_.Handle() == nullptr || index == current_ || index < 0 || index >= kMainPageCount) return;
  current_ = index;
  tab_.SetCurSel(index);
  if (pages_[index] == nullptr) {
    pages_[index] = MakeMainPage(index);
    if (pages_[index] != nullptr) pages_[index]->Create(tab_.Handle());
  }
  for (int i = 0; i < kMainPageCount; ++i) {
    if (pages_[i] != nullptr && pages_[i]->Handle() != nullptr) pages_[i]->Show(i == index ? SW_SHOW : SW_HIDE);
  }
  LayoutControls();
}

bool CMainDlg::OnNotify(int id, NMHDR* header, LRESULT& /*result*/) {
  if (id == IDC_MAIN_TAB && header->code == TCN_SELCHANGE) {
    ShowPage(tab_.CurSel());
    return true;
  }
  return false;
}

bool CMainDlg::OnTimer(UINT_PTR /*id*/) {
  ConnectService();
  return true;
}

void CMainDlg::ConnectService() {
  if (!IsVisible() || IsIconic()) return;
  std::memset(&ServerInfo(), 0, sizeof(ServerInfoBlock));
  if (GetServerInfo() == kResultOk && !IsConnected()) {
    LoadFtpAccount();
    LoadFtpSetting();
    LoadP2pSetting();
    SetConnected(true);
    SetServiceMenu(true);
  }
}

void CMainDlg::OnServiceControl() {
  if (IsConnected()) {
    KillTimer(hwnd_, kPollTimer);
    CloseServer();
    SetConnected(false);
    SetServiceMenu(false);
  } else {
    RunMonitorStart();
    ConnectService();
    SetTimer(hwnd_, kPollTimer, kPollPeriodAfterStartMs, nullptr);
  }
}

void CMainDlg::OnTrayNotify(UINT mouseMessage) {
  if (mouseMessage == WM_LBUTTONDBLCLK) {
    if (IsIconic()) {
      OpenIcon(hwnd_);
    } else if (!IsVisible()) {
      Show(SW_SHOW);
    }
    SetForegroundWindow(hwnd_);
  } else if (mouseMessage == WM_RBUTTONDOWN) {
    wtl::CPopupMenu popup;
    if (popup.Handle() == nullptr) return;
    auto add = [&](UINT id, unsigned text) { popup.Append(id, LoadResString(text)); };
    add(ID_TRAY_OPEN, IDS_TRAY_OPEN);
    popup.AppendSeparator();
    add(ID_TRAY_ABOUT, IDS_TRAY_ABOUT);
    popup.AppendSeparator();
    add(ID_TRAY_HELP, IDS_TRAY_HELP);
    add(ID_TRAY_FEEDBACK, IDS_TRAY_FEEDBACK);
    popup.AppendSeparator();
    add(ID_TRAY_SWITCH_SITE, IDS_TRAY_SWITCH_SITE);
    popup.AppendSeparator();
    add(ID_TRAY_EXIT, IDS_TRAY_EXIT);
    POINT at{};
    GetCursorPos(&at);
    SetForegroundWindow(hwnd_);
    popup.TrackForCommand(hwnd_, at);
  }
}

void CMainDlg::OnOpen() {
  if (IsIconic()) {
    OpenIcon(hwnd_);
  } else if (!IsVisible()) {
    Show(SW_SHOW);
  }
}

void CMainDlg::OnSwitchSite() {
  // Whatever the dialog ends with, the poll and the service menu go on as they
  // were: a connect it made has moved the channel to the new server, which
  // the next poll and the pages' ticks then ask.
  CConnDlg dialog;
  dialog.DoModal(GetActiveWindow());
}

void CMainDlg::OnAbout() {
  CAboutDlg about;
  about.DoModal(GetActiveWindow());
}

void CMainDlg::OnExit() {
  CloseUiLog();
  NOTIFYICONDATAW tray = TrayRecord(hwnd_);
  Shell_NotifyIconW(NIM_DELETE, &tray);
  if (wtl::ThreadLoop() != nullptr) wtl::ThreadLoop()->RemoveFilter(this);
  DestroyWindow(hwnd_);
  PostQuitMessage(0);
}

bool CMainDlg::OnCommand(int id, int /*code*/, HWND /*control*/) {
  switch (id) {
    case ID_TRAY_OPEN:
      OnOpen();
      return true;
    case ID_TRAY_SWITCH_SITE:
      OnSwitchSite();
      return true;
    case ID_TRAY_EXIT:
      OnExit();
      return true;
    case ID_TRAY_HELP:
      ShellExecuteW(nullptr, L"open", ModulePathOf(L"Orchard_Help.chm").c_str(), nullptr, nullptr, SW_SHOW);
      return true;
    case ID_TRAY_ABOUT:
    case ID_HELP_ABOUT:
    case ID_APP_ABOUT_CMD:
      OnAbout();
      return true;
    case ID_TRAY_FEEDBACK:
    case ID_HELP_FEEDBACK:
      ShellExecuteW(nullptr, L"open", kFeedbackPage, nullptr, nullptr, SW_SHOWNORMAL);
      return true;
    case ID_SERVICE_START:
    case ID_SERVICE_STOP:
      OnServiceControl();
      return true;
    default:
      return false;
  }
}

bool CMainDlg::OnMessage(UINT message, WPARAM /*w*/, LPARAM l, LRESULT& result) {
  switch (message) {
    case WM_CLOSE:
      Show(SW_HIDE);  // to the tray
      return true;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(l);
      info->ptMinTrackSize.x = 800;
      info->ptMinTrackSize.y = 600;
      return true;
    }
    case kTrayCallbackMessage:
      OnTrayNotify(static_cast<UINT>(l));
      return true;
    case kExitMessage:
      OnExit();
      return true;
    case WM_DESTROY:
      if (g_mainDialog == this) g_mainDialog = nullptr;
      result = 0;
      return false;
    default:
      return false;
  }
}
