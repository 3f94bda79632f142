// COutputSettingDlg: the link export dialog. It asks for the link kind, the
// naming, an optional condition (a publish-time range or a keyword) and
// whether the server sorts the list; the kind, naming and sort are kept in
// "od_ui_cfg.ini" for the next export.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "platform/wtl/dialog.h"
#include "ui/res/resource.h"

// What the dialog hands its caller.
struct ExportChoice {
  int exportOnly = 1;   // 1 "export", 0 "export and copy"
  int timeRange = 0;    // the range below applies
  int keywordFlag = 0;  // the keyword below applies
  uint64_t rangeStart = 0;
  uint64_t rangeEnd = 0;
  std::wstring keyword;
};

class COutputSettingDlg : public wtl::CModalDialog {
 public:
  COutputSettingDlg() : CModalDialog(IDD_OUTPUTSETTINGDLG) {}
  const ExportChoice& Choice() const { return choice_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void CollectExportOptions();
  void Check(int id, bool on) const { ::CheckDlgButton(hwnd_, id, on ? BST_CHECKED : BST_UNCHECKED); }
  void ChooseCondition(bool range);
  void OnExport(int exportOnly);

  ExportChoice choice_;
};

// The publish-time range of two picked dates: from 00:00:00.000 of the first
// to the last millisecond (23:59:59.999) of the second, as FILETIME values of
// local time, without a time-zone conversion. False when a date is invalid.
bool DayRange(const SYSTEMTIME& first, const SYSTEMTIME& last, uint64_t* start, uint64_t* end);
