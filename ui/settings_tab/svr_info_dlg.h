// CSvrInfoDlg: page 1 of the settings container, "服务信息". Whether the
// server runs, its P2P node id and public address, the numbers of published
// directories and files (from the main dialog's poll), its operating system
// and processor (command 82, once while connected) and memory (command 83),
// refreshed every 2 seconds while visible.
#pragma once
#include <windows.h>

#include <string>

#include "platform/wtl/dialog.h"
#include "ui/res/resource.h"

constexpr UINT_PTR kInfoTimer = 1000;
constexpr UINT kInfoPeriodMs = 2000;

class CSvrInfoDlg : public wtl::CModelessDialog {
 public:
  CSvrInfoDlg() : CModelessDialog(IDD_SVRINFODLG) {}

  // A tick refreshes only while the page is visible.
  void Refresh(bool tick);

 protected:
  BOOL OnInitDialog() override;
  bool OnTimer(UINT_PTR id) override;

 private:
  std::wstring os_;   // fetched once while the connection lasts
  std::wstring cpu_;
  UINT_PTR timer_ = 0;
};
