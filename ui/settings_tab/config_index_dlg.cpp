// The selector pane's buttons and frame.
#include "ui/settings_tab/config_index_dlg.h"

#include "ui/settings_tab/config_dlg.h"

namespace {
constexpr COLORREF kFrameColour = RGB(145, 155, 156);
}  // namespace

BOOL CConfigIndexDlg::OnInitDialog() {
  layout_.Start(hwnd_);
  for (int id : {IDC_SELECT_STATUS, IDC_SELECT_INFO, IDC_SELECT_P2P, IDC_SELECT_FTP}) {
    layout_.Add(id, kAnchorLeft | kAnchorRight);
  }
  return TRUE;
}

bool CConfigIndexDlg::OnSize(UINT /*type*/, int width, int height) {
  layout_.OnSize(width, height);
  return true;
}

bool CConfigIndexDlg::OnCommand(int id, int code, HWND /*control*/) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_SELECT_INFO:
      owner_->SelectPage(kPageInfo);
      return true;
    case IDC_SELECT_STATUS:
      owner_->SelectPage(kPageStatus);
      return true;
    case IDC_SELECT_FTP:
      owner_->SelectPage(kPageFtp);
      return true;
    case IDC_SELECT_P2P:
      owner_->SelectPage(kPageP2p);
      return true;
    default:
      return false;
  }
}

bool CConfigIndexDlg::OnMessage(UINT message, WPARAM /*w*/, LPARAM /*l*/, LRESULT& result) {
  if (message != WM_PAINT) return false;
  PaintFrame();
  result = 0;
  return true;
}

void CConfigIndexDlg::PaintFrame() {
  PAINTSTRUCT paint{};
  HDC dc = ::BeginPaint(hwnd_, &paint);
  RECT r{};
  ::GetClientRect(hwnd_, &r);
  ::InflateRect(&r, -1, -1);
  HBRUSH brush = ::CreateSolidBrush(kFrameColour);
  ::FrameRect(dc, &r, brush);
  ::DeleteObject(brush);
  ::EndPaint(hwnd_, &paint);
}
