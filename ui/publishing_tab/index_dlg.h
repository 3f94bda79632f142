// CIndexDlg: the published-directory tree, left pane of the publishing page.
// Two roots, "目录管理" with one item per published directory and "所有未发布";
// it adds the server's directories every 6 seconds while the page is visible,
// adds new ones through the add-directory dialog, and acts on a directory
// from its context menu.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/wtl/dialog.h"
#include "platform/wtl/tree_view.h"
#include "ui/client/codec/control_records.h"
#include "ui/layout/dialog_layout.h"
#include "ui/res/resource.h"

class CFilePubDlg;
class CFileStatusDlg;

constexpr UINT_PTR kTreeTimer = 10;
constexpr UINT kTreePeriodMs = 6000;

class CIndexDlg : public wtl::CModelessDialog {
 public:
  CIndexDlg() : CModelessDialog(IDD_INDEXDLG), layout_(IDD_INDEXDLG) {}
  ~CIndexDlg() override;

  // The page whose visibility the refresh tests, and the file pane the tree drives.
  void Attach(CFilePubDlg* page, CFileStatusDlg* files);
  void RefreshDirectories(bool visibilityTest);
  void InsertDirectoryItem(const CPublishDir& record);
  // Command 2 when publishAll is 1, else command 1; on success the tree and the file pane follow.
  void AddPublishDirectory(const std::wstring& path, int publishAll);
  void ExportLinks(const CPublishDir& record);

  HTREEITEM DirectoryRoot() const { return dirRoot_; }
  HTREEITEM UnpublishedRoot() const { return unpublishedRoot_; }
  const wtl::CTreeView& Tree() const { return tree_; }
  // The record of a directory item; null for the roots and anything else.
  const CPublishDir* RecordOf(HTREEITEM item) const;

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(int id, NMHDR* header, LRESULT& result) override;
  bool OnTimer(UINT_PTR id) override;
  bool OnSize(UINT type, int width, int height) override;
  bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;

 private:
  void OnAddPublishDir();
  void OnSelectionChanged(HTREEITEM item);
  void OnDoubleClick();
  void OnRightClick();
  void OnTreeRightClick(POINT screen);
  void DeleteDirectory(HTREEITEM item);
  void FreeRecords();
  void SetFilesMode(int mode);
  HTREEITEM ItemAtCursor() const;

  CDialogLayout layout_;
  wtl::CTreeView tree_;
  HTREEITEM dirRoot_ = nullptr;
  HTREEITEM unpublishedRoot_ = nullptr;
  HIMAGELIST images_ = nullptr;
  CFilePubDlg* page_ = nullptr;
  CFileStatusDlg* files_ = nullptr;
};
