// CFilePubDlg: the publishing page of the first tab, a splitter with the
// directory tree on the left and the file list on the right.
#pragma once
#include <windows.h>

#include "platform/wtl/dialog.h"
#include "platform/wtl/splitter.h"
#include "ui/publishing_tab/file_status_dlg.h"
#include "ui/publishing_tab/index_dlg.h"
#include "ui/res/resource.h"

constexpr int kSplitterStart = 80;  // the divider's first place and the least pane width

class CFilePubDlg : public wtl::CModelessDialog {
 public:
  CFilePubDlg() : CModelessDialog(IDD_FILEPUBDLG) {}

  // Changes the file pane's view when it is not the one last given.
  void SetViewMode(int mode);
  int ViewMode() const { return viewMode_; }

  CIndexDlg& Tree() { return tree_; }
  CFileStatusDlg& Files() { return files_; }
  wtl::CSplitterWindow& Splitter() { return splitter_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnSize(UINT type, int width, int height) override;

 private:
  wtl::CSplitterWindow splitter_;
  CIndexDlg tree_;
  CFileStatusDlg files_;
  int viewMode_ = kViewNone;
};
