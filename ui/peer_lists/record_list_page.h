// CRecordListPage: what the peer and upload pages share. An owner-data
// report list of records from the server, sorted by the clicked column,
// whose cells are handed over on LVN_GETDISPINFO, with a context menu that
// copies the selected rows or opens the folder of the first one's file.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "foundation/text/code_page.h"
#include "platform/wtl/dialog.h"
#include "platform/wtl/list_view.h"
#include "ui/layout/dialog_layout.h"
#include "ui/peer_lists/codec/column_sort.h"

class CRecordListPage : public wtl::CModelessDialog {
 public:
  CRecordListPage(int templateId, int listId, int copyColumns);

  const ColumnSort& Sort() const { return sort_; }

 protected:
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

  bool OnNotify(int id, NMHDR* header, LRESULT& result) override;
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
};
