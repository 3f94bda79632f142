// CConfigDlg: the fourth tab, "状态设置". A selector pane on the left and
// one of four pages on the right: server information, server status, FTP
// settings and P2P settings. Save and undo belong to the container and act
// on the editing page shown.
#pragma once
#include <windows.h>

#include <memory>

#include "platform/wtl/dialog.h"
#include "ui/settings_tab/config_index_dlg.h"
#include "ui/settings_tab/svr_ftp_set_dlg.h"
#include "ui/settings_tab/svr_info_dlg.h"
#include "ui/settings_tab/svr_p2p_set_dlg.h"
#include "ui/settings_tab/svr_status_dlg.h"
#include "ui/layout/dialog_layout.h"
#include "ui/res/resource.h"

enum ConfigPage : int {
  kPageNone = 0,
  kPageInfo = 1,
  kPageStatus = 2,
  kPageFtp = 3,
  kPageP2p = 4,
};

constexpr int kSelectorWidth = 100;

class CConfigDlg : public wtl::CModelessDialog {
 public:
  CConfigDlg() : CModelessDialog(IDD_CONFIGDLG), layout_(IDD_CONFIGDLG), selector_(this) {}

  void SelectPage(int page);
  int CurrentPage() const { return current_; }

  CConfigIndexDlg& Selector() { return selector_; }
  CSvrInfoDlg* InfoPage() { return info_.get(); }
  CSvrStatusDLg* StatusPage() { return status_.get(); }
  CSvrFTPSetDlg* FtpPage() { return ftp_.get(); }
  CSvrP2PSetDlg* P2pPage() { return p2p_.get(); }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnSize(UINT type, int width, int height) override;

 private:
  wtl::CModelessDialog* Page(int page);
  void LayoutPages();
  void Save();
  void Undo();

  CDialogLayout layout_;
  CConfigIndexDlg selector_;
  std::unique_ptr<CSvrInfoDlg> info_;
  std::unique_ptr<CSvrStatusDLg> status_;
  std::unique_ptr<CSvrFTPSetDlg> ftp_;
  std::unique_ptr<CSvrP2PSetDlg> p2p_;
  int current_ = kPageNone;
};
