// CFileStatusDlg: the file list, right pane of the publishing page. It lists
// the files of one published directory (view 1) or every file not yet
// published (view 2) from the server's file records, reloads them every
// second while it is visible, sorts them by any column, publishes, cancels
// and exports them, and shows and copies the links of a published file.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "platform/wtl/dialog.h"
#include "platform/wtl/list_view.h"
#include "ui/client/codec/control_records.h"
#include "ui/layout/dialog_layout.h"
#include "ui/peer_lists/codec/column_sort.h"
#include "ui/publishing_tab/codec/file_rows.h"
#include "ui/res/resource.h"

constexpr UINT_PTR kFileListTimer = 11;
constexpr UINT kFileListPeriodMs = 1000;

class CFileStatusDlg : public wtl::CModelessDialog {
 public:
  CFileStatusDlg() : CModelessDialog(IDD_FILESTATUSDLG), layout_(IDD_FILESTATUSDLG) {}
  ~CFileStatusDlg() override;

  // The path becomes the top directory, then is loaded when it is not the one shown.
  void ShowDirectory(const std::wstring& path);
  void RefreshPath(const std::wstring& path, bool changeTest);
  void RefreshUnpublished();
  void SetListMode(int mode);
  void ClearList();

  void PublishSelected();
  // Every listed file below state 8, whatever is selected.
  void PublishAllListed();
  void OnCancelPublish();
  void ExportSelectedLinks();

  int Mode() const { return mode_; }
  const std::wstring& DisplayedPath() const { return shownPath_; }
  const std::wstring& TopDirectory() const { return topDir_; }
  const std::vector<CPublishItem>& Records() const { return records_; }
  const ColumnSort& Sort() const { return sort_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(int id, NMHDR* header, LRESULT& result) override;
  bool OnTimer(UINT_PTR id) override;
  bool OnSize(UINT type, int width, int height) override;
  bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;

 private:
  void LayoutControls();
  void ShowControlsOfView();
  // Sorts the records, sets the row count and repaints.
  void ShowLoadedRows();
  std::wstring CellText(int row, int column) const;
  void ShowDetails(int row);
  std::wstring BuildFtpLink(const std::wstring& path) const;
  void GoUp();
  void OpenRow(int row);
  void CancelItem(int row);
  void CopyEditText(int editId);
  void OnContextMenu(POINT screen);
  void OnColumnClick(int column);
  std::wstring RowPath(int row) const;  // the displayed path joined with the row's name

  CDialogLayout layout_;
  wtl::CListView list_;
  HIMAGELIST images_ = nullptr;
  int mode_ = kViewNone;
  std::wstring topDir_;
  std::wstring shownPath_;
  std::vector<CPublishItem> records_;
  ColumnSort sort_;
  UINT_PTR timer_ = 0;
  int lastUnpublishedCount_ = 0;
};
