// The shared part of the peer and upload pages.
#include "ui/peer_lists/record_list_page.h"

#include "foundation/util/code_pages.h"
#include "foundation/util/desktop_ops.h"
#include "foundation/util/wide_text.h"
#include "ui/peer_lists/codec/peer_rows.h"
#include "ui/peer_lists/list_helpers.h"
#include "ui/res/resource.h"

CRecordListPage::CRecordListPage(int templateId, int listId, int copyColumns, UINT_PTR timerId,
                                 FailedRefresh onFailure)
    : CModelessDialog(templateId),
      layout_(templateId),
      listId_(listId),
      copyColumns_(copyColumns),
      timerId_(timerId),
      onFailure_(onFailure) {}

void CRecordListPage::StartList(DWORD extendedStyles) {
  layout_.Start(hwnd_);
  layout_.Add(listId_, kAnchorAll);
  ansi_ = AnsiCodePage();
  list_.Attach(Item(listId_));
  list_.SetExtendedStyle(extendedStyles);
}

void CRecordListPage::ShowRecords() {
  SortRecords();
  list_.SetRowCount(RecordCount());
}

void CRecordListPage::RefreshList(bool evenHidden) {
  if (!evenHidden && !IsVisible()) return;
  if (LoadRecords()) {
    ShowRecords();
    OnRecordsShown();
  } else if (onFailure_ == FailedRefresh::kClearRows) {
    ClearRecords();
    list_.SetRowCount(0);  // no row may stay without its record
  }
}

void CRecordListPage::StartTimer(UINT periodMs) {
  if (timer_ == 0) timer_ = ::SetTimer(hwnd_, timerId_, periodMs, nullptr);
}

bool CRecordListPage::OnTimer(UINT_PTR id) {
  if (id != timerId_) return false;
  RefreshList();
  return true;
}

bool CRecordListPage::OnSize(UINT /*type*/, int width, int height) {
  layout_.OnSize(width, height);
  return true;
}

bool CRecordListPage::OnNotify(int id, NMHDR* header, LRESULT& result) {
  if (id != listId_) return false;
  switch (header->code) {
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
      const int row = info->item.iItem;
      // A row beyond the records gives nothing.
      std::wstring text;
      if (row >= 0 && static_cast<size_t>(row) < RecordCount()) text = CellText(static_cast<size_t>(row), info->item.iSubItem);
      FillDispInfo(info, text);
      return true;
    }
    case LVN_COLUMNCLICK:
      sort_.Click(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
      ShowRecords();
      return true;
    default:
      result = 0;
      return false;
  }
}

bool CRecordListPage::OnMessage(UINT message, WPARAM /*w*/, LPARAM l, LRESULT& /*result*/) {
  if (message != WM_CONTEXTMENU) return false;
  OnContextMenu(POINT{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))});
  return true;
}

void CRecordListPage::OnContextMenu(POINT screen) {
  switch (TrackCopyOpenMenu(hwnd_, list_, screen)) {
    case ID_LIST_COPY:
      CopyTextToClipboard(hwnd_, SelectedRowsText(list_, copyColumns_));
      break;
    case ID_LIST_OPEN_FOLDER: {
      const int row = list_.NextSelected(-1);
      if (row >= 0 && static_cast<size_t>(row) < RecordCount()) {
        OpenFolder(hwnd_, ToWide(FolderOfAnsiPath(RecordPath(static_cast<size_t>(row)), ansi_)));
      }
      break;
    }
    default:
      break;
  }
}
