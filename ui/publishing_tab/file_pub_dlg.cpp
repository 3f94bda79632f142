// The publishing page puts its two panes into the splitter and keeps the
// file pane's view mode.
#include "ui/publishing_tab/file_pub_dlg.h"

#include "foundation/util/wide_text.h"
#include "ui/publishing_tab/codec/file_rows.h"

BOOL CFilePubDlg::OnInitDialog() {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  splitter_.Create(hwnd_, client);
  splitter_.SetMinPaneWidth(kSplitterStart);
  tree_.Attach(this, &files_);
  tree_.Create(splitter_.Handle());
  files_.Create(splitter_.Handle());
  splitter_.SetPanes(tree_.Handle(), files_.Handle());
  splitter_.SetSplitterPos(kSplitterStart);
  tree_.Show(SW_SHOW);
  files_.Show(SW_SHOW);
  if (const CPublishDir* record = tree_.RecordOf(tree_.Tree().Selected())) {
    files_.ShowDirectory(ToWide(DirRecordPath(*record)));
  }
  SetViewMode(kViewDirectory);
  Center(::GetParent(hwnd_));
  return TRUE;
}

bool CFilePubDlg::OnSize(UINT /*type*/, int width, int height) {
  if (splitter_.Handle() != nullptr) splitter_.Move(2, 2, width > 4 ? width - 4 : 0, height > 4 ? height - 4 : 0);
  return true;
}

void CFilePubDlg::SetViewMode(int mode) {
  if (mode == viewMode_) return;
  viewMode_ = mode;
  files_.SetListMode(mode);
}
