// The connect dialog's flow: preselect the last site, log in to an auto
// site at once, refuse an empty address or a port outside 1 to 65535.
#include "ui/dialogs/conn_dlg.h"

#include <commctrl.h>

#include "foundation/channel/tcp_channel.h"
#include "platform/wtl/module.h"
#include "ui/app/run_ui.h"
#include "ui/app/res_string.h"
#include "ui/client_settings/ui_config.h"
#include "foundation/util/code_pages.h"

namespace {
std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }
}  // namespace

BOOL CConnDlg::OnInitDialog() {
  Center(::GetParent(hwnd_));
  RunMonitorStart();
  SendItem(IDC_CONN_PORT, EM_LIMITTEXT, 5);
  // A first run has no site yet: offer the server's own port so that it can connect.
  SetItemText(IDC_CONN_PORT, kDefaultControlPort);

  status_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, hwnd_,
                              nullptr, wtl::ModuleInstance(), nullptr);
  if (status_ != nullptr) {
    ::SendMessageW(status_, SB_SETMINHEIGHT, 20, 0);
    ::SendMessageW(status_, WM_SIZE, 0, 0);
  }
  SetStatus(IDS_CONN_READY);

  HWND combo = Item(IDC_CONN_SITE);
  for (const Site& site : Config().sites) {
    std::wstring address = Wide(site.address);
    ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(address.c_str()));
  }
  LRESULT last = ::SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                reinterpret_cast<LPARAM>(Config().lastConn.c_str()));
  if (last != CB_ERR) ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(last), 0);
  OnSiteChanged();
  return TRUE;
}

bool CConnDlg::OnCommand(int id, int code, HWND /*control*/) {
  if (id == IDOK && code == 0) {
    OnOK();
    return true;
  }
  if (id == IDCANCEL) return End(IDCANCEL);
  if (id == IDC_CONN_SITE && code == CBN_SELCHANGE) {
    OnSiteChanged();
    return true;
  }
  return false;
}

void CConnDlg::OnSiteChanged() {
  HWND combo = Item(IDC_CONN_SITE);
  LRESULT selected = ::SendMessageW(combo, CB_GETCURSEL, 0, 0);
  if (selected == CB_ERR) return;
  LRESULT length = ::SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
  if (length == CB_ERR || length > 260) return;
  std::wstring address(static_cast<size_t>(length) + 1, L'\0');
  ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(address.data()));
  address.resize(static_cast<size_t>(length));

  int found = FindSite(Config().sites, U16(address));
  if (found < 0) return;
  const Site& site = Config().sites[static_cast<size_t>(found)];
  SetItemText(IDC_CONN_PORT, std::to_wstring(site.port));
  if (site.autoLogin != 0) OnOK();
}

void CConnDlg::OnOK() {
  std::wstring address = ItemText(IDC_CONN_SITE);
  if (address.empty()) {
    Message(IDS_CONN_NEED_ADDRESS);
    return;
  }
  std::wstring portText = ItemText(IDC_CONN_PORT, 16);
  uint16_t port = ParsePort(U16(portText));
  if (port == 0) {  // empty, or outside 1 to 65535
    Message(IDS_CONN_NEED_PORT);
    return;
  }
  SetStatus(IDS_CONN_CONNECTING);
  if (TcpClientConnect(WideToNarrow(address, CP_ACP).c_str(), port) != kChannelOk) {
    Message(IDS_CONN_FAILED);
    return;
  }
  UiConfig& config = Config();
  if (FindSite(config.sites, U16(address)) < 0) {
    Site site;
    site.address = U16(address);
    site.port = port;
    site.autoLogin = IsChecked(IDC_CONN_AUTO) ? 1 : 0;
    config.sites.push_back(site);
    config.lastConn = address;
  }
  SetStatus(IDS_CONN_CONNECTED);
  End(IDOK);
}

void CConnDlg::SetStatus(unsigned stringId) {
  if (status_ != nullptr) ::SendMessageW(status_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(LoadResString(stringId).c_str()));
}

void CConnDlg::Message(unsigned stringId) {
  ::MessageBoxW(hwnd_, LoadResString(stringId).c_str(), LoadResString(IDS_APP_NAME).c_str(), MB_OK);
}
