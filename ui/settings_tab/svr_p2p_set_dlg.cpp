// The P2P settings page: its fields and their save.
#include "ui/settings_tab/svr_p2p_set_dlg.h"

#include <string>
#include <vector>

#include "foundation/util/wide_text.h"
#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/settings_tab/codec/setting_changes.h"
#include "ui/settings_tab/setting_messages.h"
#include "ui/client_settings/settings_cache.h"

namespace {
constexpr int kSpeedChars = 6;
constexpr int kPortChars = 5;
// The list's texts in the order of its indexes.
constexpr unsigned kLevelTexts[] = {IDS_LOG_NONE, IDS_LOG_SIMPLE, IDS_LOG_DETAILED};
}  // namespace

BOOL CSvrP2PSetDlg::OnInitDialog() {
  SendItem(IDC_P2P_MAX_SPEED, EM_SETLIMITTEXT, kSpeedChars);
  SendItem(IDC_P2P_PORT, EM_SETLIMITTEXT, kPortChars);
  for (unsigned text : kLevelTexts) {
    SendItem(IDC_P2P_LOG_LEVEL, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(LoadResString(text).c_str()));
  }
  ShowCached();
  return TRUE;
}

void CSvrP2PSetDlg::ShowCached() {
  const SettingsCache& cache = Cache();
  SetItemText(IDC_P2P_MAX_SPEED, std::to_wstring(cache.p2pMaxUpSpeed));
  SendItem(IDC_P2P_LOG_LEVEL, CB_SETCURSEL, static_cast<WPARAM>(LogLevelIndex(cache.p2pLogLevel)));
  SetItemText(IDC_P2P_PORT, std::to_wstring(cache.p2pPort));
}

void CSvrP2PSetDlg::Save() {
  SettingsCache& cache = Cache();
  P2pPageValues page;
  page.speed = std::u16string(AsU16(ItemText(IDC_P2P_MAX_SPEED)));
  page.levelIndex = static_cast<int>(SendItem(IDC_P2P_LOG_LEVEL, CB_GETCURSEL));
  page.port = std::u16string(AsU16(ItemText(IDC_P2P_PORT)));
  const P2pSavePlan plan = PlanP2pSave(page, P2pCachedValues{cache.p2pMaxUpSpeed, cache.p2pLogLevel, cache.p2pPort});
  if (plan.refusal != 0) {
    ShowSettingMessage(hwnd_, LoadResString(plan.refusal));
    return;
  }
  // Each setting stands alone: one the server refuses leaves the others saved.
  std::vector<std::wstring> refusals;
  if (plan.restoreSpeed) SetItemText(IDC_P2P_MAX_SPEED, std::to_wstring(cache.p2pMaxUpSpeed));
  if (plan.sendSpeed) {
    const int result = SetP2pMaxUpSpeed(plan.speed);
    if (result == kResultOk) {
      cache.p2pMaxUpSpeed = plan.speed;
    } else {
      refusals.push_back(RefusalText(result));
    }
  }
  if (plan.sendLevel) {
    const int result = SetP2pLogLevel(plan.level);
    if (result == kResultOk) {
      cache.p2pLogLevel = plan.level;
    } else {
      refusals.push_back(RefusalText(result));
    }
  }
  std::wstring portRefusal;
  if (plan.sendPort) {
    const int result = SetP2pPort(plan.port);
    if (result == kResultOk) {
      cache.p2pPort = plan.port;
    } else {
      // The server's explanation of a port it could not open, else ours; the
      // edit goes back to the port the core keeps.
      portRefusal = RefusalText(result, result == static_cast<int>(ControlStatus::PortInitFailed)
                                            ? P2pPortErrorText()
                                            : std::wstring());
      SetItemText(IDC_P2P_PORT, std::to_wstring(cache.p2pPort));
    }
  }
  ShowRefusals(hwnd_, refusals);
  if (!portRefusal.empty()) ShowPortRefusal(hwnd_, portRefusal);
}
