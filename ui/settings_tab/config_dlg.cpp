// The settings container: choosing, placing, saving and undoing its pages.
#include "ui/settings_tab/config_dlg.h"

namespace {
constexpr int kInset = 2;
constexpr int kButtonGap = 4;  // between the pages and the save and undo buttons
}  // namespace

BOOL CConfigDlg::OnInitDialog() {
  layout_.Start(hwnd_);
  layout_.Add(IDC_CONFIG_SAVE, kAnchorRight | kAnchorBottom);
  layout_.Add(IDC_CONFIG_UNDO, kAnchorRight | kAnchorBottom);
  selector_.Create(hwnd_);
  selector_.Show(SW_SHOW);
  ::ShowWindow(Item(IDC_CONFIG_SAVE), SW_SHOW);
  ::ShowWindow(Item(IDC_CONFIG_UNDO), SW_SHOW);
  SelectPage(kPageInfo);
  return TRUE;
}

wtl::CModelessDialog* CConfigDlg::Page(int page) {
  switch (page) {
    case kPageInfo:
      return info_.get();
    case kPageStatus:
      return status_.get();
    case kPageFtp:
      return ftp_.get();
    case kPageP2p:
      return p2p_.get();
    default:
      return nullptr;
  }
}

void CConfigDlg::SelectPage(int page) {
  if (page == current_ || page < kPageInfo || page > kPageP2p) return;
  current_ = page;
  for (int other = kPageInfo; other <= kPageP2p; ++other) {
    if (wtl::CModelessDialog* existing = Page(other)) existing->Show(SW_HIDE);
  }
  ::ShowWindow(Item(IDC_CONFIG_SAVE), SW_HIDE);
  ::ShowWindow(Item(IDC_CONFIG_UNDO), SW_HIDE);
  if (Page(page) == nullptr) {
    switch (page) {
      case kPageInfo:
        info_ = std::make_unique<CSvrInfoDlg>();
        break;
      case kPageStatus:
        status_ = std::make_unique<CSvrStatusDLg>();
        break;
      case kPageFtp:
        ftp_ = std::make_unique<CSvrFTPSetDlg>();
        break;
      default:
        p2p_ = std::make_unique<CSvrP2PSetDlg>();
        break;
    }
    Page(page)->Create(hwnd_);
  }
  LayoutPages();
  Page(page)->Show(SW_SHOW);
  if (page == kPageFtp || page == kPageP2p) {
    ::ShowWindow(Item(IDC_CONFIG_SAVE), SW_SHOW);
    ::ShowWindow(Item(IDC_CONFIG_UNDO), SW_SHOW);
  }
}

bool CConfigDlg::OnSize(UINT /*type*/, int width, int height) {
  layout_.OnSize(width, height);
  LayoutPages();
  return true;
}

void CConfigDlg::LayoutPages() {
  RECT inset{};
  ::GetClientRect(hwnd_, &inset);
  ::InflateRect(&inset, -kInset, -kInset);
  const int height = inset.bottom - inset.top;
  if (selector_.Handle() != nullptr) selector_.Move(inset.left, inset.top, kSelectorWidth, height > 0 ? height : 0);
  RECT selector{};
  ::GetClientRect(selector_.Handle(), &selector);
  const int pageLeft = inset.left + selector.right + kInset;
  // The pages end above the save and undo buttons, so that no page covers them.
  RECT button{};
  ::GetWindowRect(Item(IDC_CONFIG_SAVE), &button);
  ::MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&button), 2);
  int pageHeight = button.top - kButtonGap - inset.top;
  int pageWidth = (inset.right - inset.left) - (kSelectorWidth + kInset);
  for (int page = kPageInfo; page <= kPageP2p; ++page) {
    if (wtl::CModelessDialog* existing = Page(page)) {
      existing->Move(pageLeft, inset.top, pageWidth > 0 ? pageWidth : 0, pageHeight > 0 ? pageHeight : 0);
    }
  }
}

void CConfigDlg::Save() {
  if (current_ == kPageFtp && ftp_ != nullptr) ftp_->Save();
  if (current_ == kPageP2p && p2p_ != nullptr) p2p_->Save();
}

void CConfigDlg::Undo() {
  if (current_ == kPageFtp && ftp_ != nullptr) ftp_->Undo();
  if (current_ == kPageP2p && p2p_ != nullptr) p2p_->Undo();
}

bool CConfigDlg::OnCommand(int id, int code, HWND /*control*/) {
  if (code != 0) return false;
  if (id == IDC_CONFIG_SAVE) {
    Save();
    return true;
  }
  if (id == IDC_CONFIG_UNDO) {
    Undo();
    return true;
  }
  return false;
}
