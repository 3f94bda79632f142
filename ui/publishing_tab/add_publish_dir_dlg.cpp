// The add-directory dialog: the path is checked on every change.
#include "ui/publishing_tab/add_publish_dir_dlg.h"

#include <shlwapi.h>

#include "ui/app/res_string.h"
#include "ui/publishing_tab/dir_dialog.h"

BOOL CAddPublishDirDlg::OnInitDialog() {
  ::EnableWindow(Item(IDOK), FALSE);
  ::CheckDlgButton(hwnd_, publishAll_ == 1 ? IDC_ADD_ALL : IDC_ADD_DIR_ONLY, BST_CHECKED);
  SendItem(IDC_ADD_PATH, EM_LIMITTEXT, 259);
  Center(::GetParent(hwnd_));
  return TRUE;
}

bool CAddPublishDirDlg::OnCommand(int id, int code, HWND /*control*/) {
  switch (id) {
    case IDC_ADD_PATH:
      if (code == EN_CHANGE) OnPathChanged();
      return true;
    case IDC_ADD_ALL:
    case IDC_ADD_DIR_ONLY:
      publishAll_ = id == IDC_ADD_ALL ? 1 : 0;
      ::CheckDlgButton(hwnd_, IDC_ADD_ALL, publishAll_ == 1 ? BST_CHECKED : BST_UNCHECKED);
      ::CheckDlgButton(hwnd_, IDC_ADD_DIR_ONLY, publishAll_ == 1 ? BST_UNCHECKED : BST_CHECKED);
      return true;
    case IDC_ADD_BROWSE:
      Browse();
      return true;
    case IDOK:
      // Enter reaches here even while OK is disabled, that is while the edit holds no directory.
      if (!::IsWindowEnabled(Item(IDOK))) return true;
      path_ = ItemText(IDC_ADD_PATH, 259);
      return End(IDOK);
    case IDCANCEL:
      return End(IDCANCEL);
    default:
      return false;
  }
}

void CAddPublishDirDlg::OnPathChanged() {
  std::wstring text = ItemText(IDC_ADD_PATH, 259);
  bool valid = !text.empty() && PathIsDirectoryW(text.c_str());
  if (valid) path_ = text;
  ::EnableWindow(Item(IDOK), valid);
}

void CAddPublishDirDlg::Browse() {
  CDirDialog picker;
  picker.SetTitle(LoadResString(IDS_BROWSE_TITLE));
  picker.SetInitialFolder(initial_);
  if (picker.DoModal(hwnd_) == 1) SetItemText(IDC_ADD_PATH, picker.Path());
}
