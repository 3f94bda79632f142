// The server information page's refresh.
#include "ui/settings_tab/svr_info_dlg.h"

#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/settings_tab/field_texts.h"

BOOL CSvrInfoDlg::OnInitDialog() {
  Refresh(false);
  if (timer_ == 0) timer_ = ::SetTimer(hwnd_, kInfoTimer, kInfoPeriodMs, nullptr);
  return TRUE;
}

bool CSvrInfoDlg::OnTimer(UINT_PTR id) {
  if (id != kInfoTimer) return false;
  Refresh(true);
  return true;
}

void CSvrInfoDlg::Refresh(bool tick) {
  if (tick && !IsVisible()) return;
  if (!IsConnected()) {
    SetItemText(IDC_INFO_STATE, LoadResString(IDS_SERVICE_STOPPED));
    ShowFieldTexts(*this, DisconnectedInfoTexts());
    os_.clear();
    cpu_.clear();
    return;
  }
  SetItemText(IDC_INFO_STATE, LoadResString(IDS_SERVICE_STARTED));
  ShowFieldTexts(*this, ServerInfoTexts(ServerInfo()));
  PerformanceBlock performance{};
  if (GetServerPerformance(performance) == kResultOk) ShowFieldTexts(*this, PerformanceTexts(performance));
  if (os_.empty()) {
    SystemInfoBlock system{};
    if (GetServerSystemInfo(system) == kResultOk) {
      os_ = ToWide(SystemOsText(system));
      cpu_ = ToWide(SystemCpuText(system));
    }
  }
  if (!os_.empty() || !cpu_.empty()) {
    SetItemText(IDC_INFO_OS, os_);
    SetItemText(IDC_INFO_CPU, cpu_);
  }
}
