// CSvrStatusDLg: page 2 of the settings container, "服务状态". The traffic
// of the FTP server (command 69) and of the P2P upload core with its block
// cache (command 117), refreshed every second while visible. A command that
// fails leaves its figures as they were.
#pragma once
#include <windows.h>

#include "platform/wtl/dialog.h"
#include "ui/layout/dialog_layout.h"
#include "ui/res/resource.h"

constexpr UINT_PTR kStatusTimer = 10;
constexpr UINT kStatusPeriodMs = 1000;

class CSvrStatusDLg : public wtl::CModelessDialog {
 public:
  CSvrStatusDLg() : CModelessDialog(IDD_SVRSTATUSDLG), layout_(IDD_SVRSTATUSDLG) {}

  // A tick refreshes only while the page is visible.
  void Refresh(bool tick);

 protected:
  BOOL OnInitDialog() override;
  bool OnTimer(UINT_PTR id) override;
  bool OnSize(UINT type, int width, int height) override;

 private:
  CDialogLayout layout_;
  UINT_PTR timer_ = 0;
};
