// CRecordListPage: what the peer and upload pages share. An owner-data
// report list of records from the server, reloaded on the page's timer while
// visible, sorted by the clicked column, whose cells are handed over on
// LVN_GETDISPINFO, with a context menu that copies the selected rows or opens
// the folder of the first one's file.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "foundation/text/code_page.h"
#include "platform/wtl/dialog.h"
#include "platform/wtl/list_view.h"
#include "ui/layout/dialog_layout.h"
#include "ui/peer_lists/codec/column_sort.h"

// What a failed refresh leaves of the list: the rows as they were (the
// upload list), or none, since its records went with the request (the peer list).
enum class FailedRefresh { kKeepRows, kClearRows };

class CRecordListPage : public wtl::CModelessDialog {
 public:
  CRecordListPage(int templateId, int listId, int copyColumns, UINT_PTR timerId, FailedRefresh onFailure);

  const ColumnSort& Sort() const { return sort_; }
  // Reloads the records and shows them; a hidden page loads nothing unless
  // `evenHidden`. A failed request leaves the list as the page's rule says.
  void RefreshList(bool evenHidden = false);

 protected:
  // Asks the server for the records; false, with the records untouched, when
  // the request failed or was refused.
  virtual bool LoadRecords() = 0;
  virtual void ClearRecords() = 0;
  // After the rows are shown.
  virtual void OnRecordsShown() {}
  // The records the list shows and what it shows of them.
  virtual size_t RecordCount() const = 0;
  virtual std::wstring CellText(size_t row, int column) const = 0;
  virtual void SortRecords() = 0;
  // The ANSI path of the row's file.
  virtual std::string RecordPath(size_t row) const = 0;

  // Finds the list and starts the layout; the subclass sets up the rest.
  void StartList(DWORD extendedStyles);
  // Sorts the records and gives the list their number of rows.
  void ShowRecords();
  // The page's refresh timer, set once.
  void StartTimer(UINT periodMs);

  bool OnNotify(int id, NMHDR* header, LRESULT& result) override;
  bool OnTimer(UINT_PTR id) override;
  bool OnSize(UINT type, int width, int height) override;
  bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;

  CDialogLayout layout_;
  wtl::CListView list_;
  ColumnSort sort_;
  NarrowCodePage ansi_;

 private:
  void OnContextMenu(POINT screen);

  int listId_;
  int copyColumns_;
  UINT_PTR timerId_;
  UINT_PTR timer_ = 0;
  FailedRefresh onFailure_;
};
