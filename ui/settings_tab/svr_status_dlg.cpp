// The server status page's refresh.
#include "ui/settings_tab/svr_status_dlg.h"

#include "ui/client/control_client.h"
#include "ui/settings_tab/field_texts.h"

BOOL CSvrStatusDLg::OnInitDialog() {
  layout_.Start(hwnd_);
  ShowFieldTexts(*this, StatusStartTexts());
  Refresh(false);
  if (timer_ == 0) timer_ = ::SetTimer(hwnd_, kStatusTimer, kStatusPeriodMs, nullptr);
  return TRUE;
}

bool CSvrStatusDLg::OnSize(UINT /*type*/, int width, int height) {
  layout_.OnSize(width, height);
  return true;
}

bool CSvrStatusDLg::OnTimer(UINT_PTR id) {
  if (id != kStatusTimer) return false;
  Refresh(true);
  return true;
}

void CSvrStatusDLg::Refresh(bool tick) {
  if (tick && !IsVisible()) return;
  FtpStatistics ftp{};
  if (GetFtpStatistics(ftp) == kResultOk) ShowFieldTexts(*this, FtpStatusTexts(ftp));
  P2pTotals totals{};
  P2pStatBlock block{};
  if (GetP2pStatistics(totals, block) == kResultOk) ShowFieldTexts(*this, P2pStatusTexts(totals, block));
}
