// The FTP settings page: its fields and their save.
#include "ui/settings_tab/svr_ftp_set_dlg.h"

#include <commctrl.h>

#include <string>
#include <vector>

#include "foundation/text/address_text.h"
#include "foundation/util/wide_text.h"
#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/settings_tab/codec/setting_changes.h"
#include "ui/settings_tab/setting_messages.h"
#include "ui/client_settings/settings_cache.h"

namespace {
constexpr int kAccountChars = 16;
constexpr int kPortChars = 5;
}  // namespace

BOOL CSvrFTPSetDlg::OnInitDialog() {
  SendItem(IDC_FTP_PORT, EM_SETLIMITTEXT, kPortChars);
  SendItem(IDC_FTP_USER, EM_SETLIMITTEXT, kAccountChars);
  SendItem(IDC_FTP_PASSWORD, EM_SETLIMITTEXT, kAccountChars);
  ShowCached();
  return TRUE;
}

void CSvrFTPSetDlg::ShowCached() {
  const SettingsCache& cache = Cache();
  const bool byDomain = cache.ftpHostType == kHostTypeDomain;
  SetItemText(IDC_FTP_DOMAIN, byDomain ? cache.ftpHost : std::wstring());
  SetAddress(byDomain ? std::wstring() : cache.ftpHost);
  UseDomain(byDomain);
  SetItemText(IDC_FTP_PORT, std::to_wstring(cache.ftpPort));
  SetItemText(IDC_FTP_USER, cache.ftpUser);
  SetItemText(IDC_FTP_PASSWORD, cache.ftpPassword);
  EnableAccount(false);
}

void CSvrFTPSetDlg::UseDomain(bool byDomain) {
  ::CheckRadioButton(hwnd_, IDC_FTP_BY_IP, IDC_FTP_BY_DOMAIN, byDomain ? IDC_FTP_BY_DOMAIN : IDC_FTP_BY_IP);
  ::EnableWindow(Item(IDC_FTP_DOMAIN), byDomain);
  ::EnableWindow(Item(IDC_FTP_IP), !byDomain);
}

void CSvrFTPSetDlg::EnableAccount(bool enable) {
  ::CheckDlgButton(hwnd_, IDC_FTP_CUSTOM_ACCOUNT, enable ? BST_CHECKED : BST_UNCHECKED);
  ::EnableWindow(Item(IDC_FTP_USER), enable);
  ::EnableWindow(Item(IDC_FTP_PASSWORD), enable);
}

// The IP control as dotted text; "0.0.0.0" when it is empty.
std::wstring CSvrFTPSetDlg::AddressText() const {
  DWORD address = 0;
  SendItem(IDC_FTP_IP, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
  const uint8_t bytes[4] = {FIRST_IPADDRESS(address), SECOND_IPADDRESS(address), THIRD_IPADDRESS(address),
                            FOURTH_IPADDRESS(address)};
  std::string text = Ipv4Text(bytes);
  return std::wstring(text.begin(), text.end());
}

void CSvrFTPSetDlg::SetAddress(const std::wstring& host) {
  uint8_t b[4];
  if (!ParseDottedAddress(AsU16(host), b)) {
    SendItem(IDC_FTP_IP, IPM_CLEARADDRESS);
    return;
  }
  SendItem(IDC_FTP_IP, IPM_SETADDRESS, 0, MAKEIPADDRESS(b[0], b[1], b[2], b[3]));
}

bool CSvrFTPSetDlg::OnCommand(int id, int code, HWND /*control*/) {
  switch (id) {
    case IDC_FTP_BY_IP:
    case IDC_FTP_BY_DOMAIN:
      if (code != BN_CLICKED) return false;
      UseDomain(id == IDC_FTP_BY_DOMAIN);
      return true;
    case IDC_FTP_DEFAULT_PORT:
      if (code != BN_CLICKED) return false;
      SetItemText(IDC_FTP_PORT, L"21");
      return true;
    case IDC_FTP_CUSTOM_ACCOUNT:
      if (code != BN_CLICKED) return false;
      EnableAccount(IsChecked(IDC_FTP_CUSTOM_ACCOUNT));
      return true;
    case IDC_FTP_PORT:
      if (code != EN_CHANGE) return false;
      OnPortTyped();
      return true;
    default:
      return false;
  }
}

void CSvrFTPSetDlg::OnPortTyped() {
  std::optional<std::u16string> bounded = BoundTypedFtpPort(AsU16(ItemText(IDC_FTP_PORT)));
  if (!bounded) return;
  ::CheckDlgButton(hwnd_, IDC_FTP_DEFAULT_PORT, BST_UNCHECKED);
  SetItemText(IDC_FTP_PORT, ToWide(*bounded));
}

void CSvrFTPSetDlg::Save() {
  SettingsCache& cache = Cache();
  FtpPageValues page;
  page.byDomain = IsChecked(IDC_FTP_BY_DOMAIN);
  page.domain = std::u16string(AsU16(ItemText(IDC_FTP_DOMAIN)));
  page.address = std::u16string(AsU16(AddressText()));
  page.port = std::u16string(AsU16(ItemText(IDC_FTP_PORT)));
  page.user = std::u16string(AsU16(ItemText(IDC_FTP_USER)));
  page.password = std::u16string(AsU16(ItemText(IDC_FTP_PASSWORD)));
  page.passwordTyped = SendItem(IDC_FTP_PASSWORD, EM_GETMODIFY) != 0;
  FtpCachedValues cached;
  cached.hostType = cache.ftpHostType;
  cached.host = std::u16string(AsU16(cache.ftpHost));
  cached.port = cache.ftpPort;
  cached.user = std::u16string(AsU16(cache.ftpUser));
  cached.password = std::u16string(AsU16(cache.ftpPassword));
  cached.serverHasPassword = cache.ftpServerHasPassword;

  const FtpSavePlan plan = PlanFtpSave(page, cached);
  if (plan.refusal != 0) {
    ShowSettingMessage(hwnd_, LoadResString(plan.refusal));
    return;
  }
  std::vector<std::wstring> refusals;
  bool changed = false;
  if (plan.sendAddress) {
    const std::wstring host = ToWide(plan.host);
    const int result = SetFtpSetting(plan.hostType, host, plan.port);
    if (result == kResultOk) {
      cache.ftpHostType = plan.hostType;
      cache.ftpHost = host;
      if (plan.hostType == kHostTypeAddress) cache.ftpPort = plan.port;
      changed = true;
    } else {
      refusals.push_back(RefusalText(result));
    }
  }
  bool accountSaved = !plan.sendAccount;
  if (plan.sendAccount) {
    const int result = SetFtpAccount(ToWide(page.user), ToWide(page.password));
    if (result == kResultOk) {
      cache.ftpUser = ToWide(page.user);
      cache.ftpPassword = ToWide(page.password);
      cache.ftpServerHasPassword = !page.password.empty();
      if (cache.ftpUser.empty() && !cache.ftpPassword.empty()) cache.ftpUser = L"anonymous";
      SendItem(IDC_FTP_PASSWORD, EM_SETMODIFY, FALSE);
      changed = accountSaved = true;
    } else {
      refusals.push_back(RefusalText(result));
    }
  }
  // An account the server did not take stays open for another try.
  if (accountSaved) EnableAccount(false);
  ShowRefusals(hwnd_, refusals);
  if (changed) ShowSettingMessage(hwnd_, LoadResString(IDS_FTP_REPUBLISH));
}

void CSvrFTPSetDlg::Undo() {
  // The address, the port and the choice between IP and domain stay as typed.
  const SettingsCache& cache = Cache();
  SetItemText(IDC_FTP_USER, cache.ftpUser);
  SetItemText(IDC_FTP_PASSWORD, cache.ftpPassword);
  SendItem(IDC_FTP_PASSWORD, EM_SETMODIFY, FALSE);
  EnableAccount(false);
}
