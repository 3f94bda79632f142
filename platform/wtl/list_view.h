// CListView: a report list view by its HWND; each method is one or two
// messages. Owner-data lists ask their parent for texts through LVN_GETDISPINFO.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "platform/wtl/window.h"

namespace wtl {

class CListView : public CWindow {
 public:
  CListView() = default;
  explicit CListView(HWND hwnd) : CWindow(hwnd) {}
  void Attach(HWND hwnd) { hwnd_ = hwnd; }

  void SetExtendedStyle(DWORD style) const { Send(LVM_SETEXTENDEDLISTVIEWSTYLE, style, style); }
  DWORD ExtendedStyle() const { return static_cast<DWORD>(Send(LVM_GETEXTENDEDLISTVIEWSTYLE)); }

  bool InsertColumn(int index, const std::wstring& text, int width) const {
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(text.c_str());
    column.iSubItem = index;
    return Send(LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&column)) >= 0;
  }
  int ColumnCount() const {
    HWND header = reinterpret_cast<HWND>(Send(LVM_GETHEADER));
    return header != nullptr ? static_cast<int>(::SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  }
  void DeleteAllColumns() const {
    for (int n = ColumnCount(); n > 0; --n) Send(LVM_DELETECOLUMN, 0);
  }
  HIMAGELIST SetImageList(HIMAGELIST list, int which = LVSIL_SMALL) const {
    return reinterpret_cast<HIMAGELIST>(Send(LVM_SETIMAGELIST, static_cast<WPARAM>(which), reinterpret_cast<LPARAM>(list)));
  }

  // Owner data: the row count, keeping the scroll position and the rows already painted.
  void SetRowCount(size_t rows) const {
    Send(LVM_SETITEMCOUNT, rows, LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    ::InvalidateRect(hwnd_, nullptr, FALSE);
  }
  int RowCount() const { return static_cast<int>(Send(LVM_GETITEMCOUNT)); }
  void DeleteAllRows() const { Send(LVM_DELETEALLITEMS); }
  void RedrawRows(int first, int last) const {
    Send(LVM_REDRAWITEMS, static_cast<WPARAM>(first), static_cast<LPARAM>(last));
    ::UpdateWindow(hwnd_);
  }

  int SelectedCount() const { return static_cast<int>(Send(LVM_GETSELECTEDCOUNT)); }
  // The next selected row after `after` (-1: from the start), or -1.
  int NextSelected(int after) const {
    return static_cast<int>(Send(LVM_GETNEXTITEM, static_cast<WPARAM>(after), LVNI_SELECTED));
  }
  // Every selected row in row order, in one pass.
  std::vector<int> SelectedRows() const {
    std::vector<int> rows;
    for (int row = NextSelected(-1); row >= 0; row = NextSelected(row)) rows.push_back(row);
    return rows;
  }
  bool SetRowState(int row, UINT state, UINT mask) const {
    LVITEMW item{};
    item.stateMask = mask;
    item.state = state;
    return Send(LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item)) != 0;
  }
  bool Select(int row, bool selected) const { return SetRowState(row, selected ? LVIS_SELECTED : 0, LVIS_SELECTED); }

  // The cell text as the list shows it (for owner data, through the parent's LVN_GETDISPINFO).
  std::wstring CellText(int row, int column, int maxChars = 1024) const {
    std::wstring text(static_cast<size_t>(maxChars) + 1, L'\0');
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    item.cchTextMax = maxChars + 1;
    LRESULT n = Send(LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
  }
};

}  // namespace wtl
