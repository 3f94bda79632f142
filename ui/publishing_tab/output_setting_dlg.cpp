// The export dialog's radio pairs, the collection of its options and the
// range check of its two export buttons.
#include "ui/publishing_tab/output_setting_dlg.h"

#include <commctrl.h>

#include "ui/app/res_string.h"
#include "ui/client_settings/ui_config.h"

namespace {

bool ToFileTime(SYSTEMTIME time, WORD hour, WORD minute, WORD second, WORD millis, uint64_t* out) {
  time.wHour = hour;
  time.wMinute = minute;
  time.wSecond = second;
  time.wMilliseconds = millis;
  FILETIME value{};
  if (!SystemTimeToFileTime(&time, &value)) return false;
  *out = (uint64_t{value.dwHighDateTime} << 32) | value.dwLowDateTime;
  return true;
}

}  // namespace

bool DayRange(const SYSTEMTIME& first, const SYSTEMTIME& last, uint64_t* start, uint64_t* end) {
  return ToFileTime(first, 0, 0, 0, 0, start) && ToFileTime(last, 23, 59, 59, 999, end);
}

BOOL COutputSettingDlg::OnInitDialog() {
  const UiConfig& config = Config();
  Check(config.urlFmt == 1 ? IDC_EXPORT_VXHD : IDC_EXPORT_FTP, true);
  Check(config.nameFmt == 1 ? IDC_EXPORT_BY_PARENT : IDC_EXPORT_BY_NAME, true);
  Check(IDC_EXPORT_BY_TIME, false);
  Check(IDC_EXPORT_BY_KEYWORD, false);
  Check(IDC_EXPORT_SORT, config.sort == 1);
  ::EnableWindow(Item(IDC_EXPORT_START), FALSE);
  ::EnableWindow(Item(IDC_EXPORT_END), FALSE);
  ::EnableWindow(Item(IDC_EXPORT_KEYWORD), FALSE);
  SendItem(IDC_EXPORT_KEYWORD, EM_LIMITTEXT, 259);
  Center(::GetParent(hwnd_));
  return TRUE;
}

void COutputSettingDlg::ChooseCondition(bool range) {
  Check(IDC_EXPORT_BY_TIME, range);
  Check(IDC_EXPORT_BY_KEYWORD, !range);
  ::EnableWindow(Item(IDC_EXPORT_START), range);
  ::EnableWindow(Item(IDC_EXPORT_END), range);
  ::EnableWindow(Item(IDC_EXPORT_KEYWORD), !range);
}

bool COutputSettingDlg::OnCommand(int id, int /*code*/, HWND /*control*/) {
  switch (id) {
    case IDC_EXPORT_FTP:
    case IDC_EXPORT_VXHD:
      Check(IDC_EXPORT_FTP, id == IDC_EXPORT_FTP);
      Check(IDC_EXPORT_VXHD, id == IDC_EXPORT_VXHD);
      return true;
    case IDC_EXPORT_BY_NAME:
    case IDC_EXPORT_BY_PARENT:
      Check(IDC_EXPORT_BY_NAME, id == IDC_EXPORT_BY_NAME);
      Check(IDC_EXPORT_BY_PARENT, id == IDC_EXPORT_BY_PARENT);
      return true;
    case IDC_EXPORT_BY_TIME:
    case IDC_EXPORT_BY_KEYWORD:
      ChooseCondition(id == IDC_EXPORT_BY_TIME);
      return true;
    case IDC_EXPORT_ONLY:
      OnExport(1);
      return true;
    case IDC_EXPORT_COPY:
      OnExport(0);
      return true;
    case IDOK:  // Enter: no range check
      CollectExportOptions();
      return End(1);
    case IDCANCEL:  // the choices are kept even so
      CollectExportOptions();
      return End(2);
    default:
      return false;
  }
}

void COutputSettingDlg::OnExport(int exportOnly) {
  choice_.exportOnly = exportOnly;
  CollectExportOptions();
  if (choice_.timeRange != 0 && choice_.rangeEnd < choice_.rangeStart) {
    ::MessageBoxW(hwnd_, LoadResString(IDS_RANGE_REVERSED).c_str(), LoadResString(IDS_APP_NAME).c_str(), MB_OK);
    return;
  }
  End(1);
}

void COutputSettingDlg::CollectExportOptions() {
  UiConfig& config = Config();
  if (IsChecked(IDC_EXPORT_FTP)) {
    config.urlFmt = 0;
  } else if (IsChecked(IDC_EXPORT_VXHD)) {
    config.urlFmt = 1;
  }
  if (IsChecked(IDC_EXPORT_BY_NAME)) {
    config.nameFmt = 0;
  } else if (IsChecked(IDC_EXPORT_BY_PARENT)) {
    config.nameFmt = 1;
  }
  // Both conditions start clear at every collection, so that a choice
  // changed after a refused range does not leave the other one set.
  choice_.timeRange = IsChecked(IDC_EXPORT_BY_TIME) ? 1 : 0;
  choice_.keywordFlag = choice_.timeRange == 0 && IsChecked(IDC_EXPORT_BY_KEYWORD) ? 1 : 0;
  config.sort = IsChecked(IDC_EXPORT_SORT) ? 1 : 0;
  SaveUiConfig(UiConfigPath(), config);

  choice_.rangeStart = choice_.rangeEnd = 0;
  if (choice_.timeRange != 0) {
    SYSTEMTIME first{}, last{};
    SendItem(IDC_EXPORT_START, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&first));
    SendItem(IDC_EXPORT_END, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&last));
    DayRange(first, last, &choice_.rangeStart, &choice_.rangeEnd);
  }
  choice_.keyword.clear();
  if (choice_.keywordFlag != 0) {
    choice_.keyword = ItemText(IDC_EXPORT_KEYWORD, 259);
    if (choice_.keyword.empty()) choice_.keywordFlag = 0;
  }
}
