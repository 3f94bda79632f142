// The directory tree: its refresh from command 33, its notifications, the
// add-directory flow and the per-directory context menu.
#include "ui/publishing_tab/index_dlg.h"

#include <cstring>
#include <vector>

#include "foundation/util/wide_text.h"
#include "platform/wtl/menu.h"
#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/peer_lists/list_helpers.h"
#include "ui/publishing_tab/add_publish_dir_dlg.h"
#include "ui/publishing_tab/codec/file_rows.h"
#include "ui/publishing_tab/export_links.h"
#include "ui/publishing_tab/file_pub_dlg.h"
#include "ui/publishing_tab/file_status_dlg.h"
#include "ui/client_settings/ui_log.h"

CIndexDlg::~CIndexDlg() {
  if (images_ != nullptr) ImageList_Destroy(images_);
}

void CIndexDlg::Attach(CFilePubDlg* page, CFileStatusDlg* files) {
  page_ = page;
  files_ = files;
}

BOOL CIndexDlg::OnInitDialog() {
  layout_.Start(hwnd_);
  layout_.Add(IDC_INDEX_ADD, kAnchorLeft | kAnchorTop);
  layout_.Add(IDC_INDEX_TREE, kAnchorAll);
  tree_.Attach(Item(IDC_INDEX_TREE));
  images_ = LoadListImages();
  tree_.SetImageList(images_);
  dirRoot_ = tree_.Insert(TVI_ROOT, TVI_LAST, LoadResString(IDS_ROOT_DIRECTORIES), kImageDirectoryRoot,
                          kImageDirectoryRoot);
  unpublishedRoot_ = tree_.Insert(TVI_ROOT, TVI_LAST, LoadResString(IDS_ROOT_UNPUBLISHED), kImageUnpublishedRoot,
                                  kImageUnpublishedRoot);
  RefreshDirectories(false);
  ::SetTimer(hwnd_, kTreeTimer, kTreePeriodMs, nullptr);
  return TRUE;
}

bool CIndexDlg::OnSize(UINT /*type*/, int width, int height) {
  layout_.OnSize(width, height);
  return true;
}

bool CIndexDlg::OnTimer(UINT_PTR id) {
  if (id != kTreeTimer) return false;
  RefreshDirectories(true);
  return true;
}

void CIndexDlg::RefreshDirectories(bool visibilityTest) {
  HWND page = page_ != nullptr ? page_->Handle() : hwnd_;
  if (visibilityTest && !::IsWindowVisible(page)) return;
  std::vector<CPublishDir> records;
  if (GetServerDirectorys(records) != kResultOk) return;
  WriteUiLog(1, "Has %d dir published", static_cast<int>(records.size()));
  // A refresh only adds: a directory the server no longer lists stays until the user deletes it.
  for (const CPublishDir& record : records) InsertDirectoryItem(record);
}

const CPublishDir* CIndexDlg::RecordOf(HTREEITEM item) const {
  if (item == nullptr || item == dirRoot_ || item == unpublishedRoot_) return nullptr;
  return reinterpret_cast<const CPublishDir*>(tree_.Data(item));
}

void CIndexDlg::InsertDirectoryItem(const CPublishDir& record) {
  for (HTREEITEM child = tree_.FirstChild(dirRoot_); child != nullptr; child = tree_.NextSibling(child)) {
    const CPublishDir* known = RecordOf(child);
    if (known != nullptr && std::memcmp(known->dirId, record.dirId, sizeof record.dirId) == 0) return;
  }
  auto* copy = new CPublishDir(record);
  // The tree's copy always ends within its field.
  auto* path = reinterpret_cast<uint8_t*>(copy) + offsetof(CPublishDir, path);
  path[2 * (kPathUnits - 1)] = path[2 * (kPathUnits - 1) + 1] = 0;
  std::u16string text = DirectoryItemText(DirRecordPath(*copy));
  tree_.Insert(dirRoot_, TVI_LAST, ToWide(text), kImageDirectory, kImageDirectory, reinterpret_cast<LPARAM>(copy));
  tree_.Expand(dirRoot_);
}

void CIndexDlg::SetFilesMode(int mode) {
  if (page_ != nullptr) page_->SetViewMode(mode);
}

void CIndexDlg::OnSelectionChanged(HTREEITEM item) {
  if (item == dirRoot_) {
    SetFilesMode(kViewDirectory);
  } else if (item == unpublishedRoot_) {
    SetFilesMode(kViewUnpublished);
  } else if (const CPublishDir* record = RecordOf(item)) {
    SetFilesMode(kViewDirectory);
    if (files_ != nullptr) files_->ShowDirectory(ToWide(DirRecordPath(*record)));
  }
}

HTREEITEM CIndexDlg::ItemAtCursor() const {
  DWORD at = ::GetMessagePos();
  POINT point{static_cast<short>(LOWORD(at)), static_cast<short>(HIWORD(at))};
  ::ScreenToClient(tree_.Handle(), &point);
  return tree_.HitTest(point);
}

void CIndexDlg::OnDoubleClick() {
  HTREEITEM item = ItemAtCursor();
  if (item == nullptr) item = tree_.Selected();
  const CPublishDir* record = RecordOf(item);
  if (record == nullptr) return;
  SetFilesMode(kViewDirectory);
  if (files_ != nullptr) files_->ShowDirectory(ToWide(DirRecordPath(*record)));
}

void CIndexDlg::OnRightClick() {
  HTREEITEM item = ItemAtCursor();
  if (item == nullptr) return;
  tree_.Select(item);
  // The file pane shows the directory that the context menu will act on.
  if (const CPublishDir* record = RecordOf(item)) {
    SetFilesMode(kViewDirectory);
    if (files_ != nullptr) files_->ShowDirectory(ToWide(DirRecordPath(*record)));
  }
}

bool CIndexDlg::OnNotify(int id, NMHDR* header, LRESULT& result) {
  if (id != IDC_INDEX_TREE) return false;
  switch (header->code) {
    case TVN_SELCHANGEDW:
      OnSelectionChanged(reinterpret_cast<NMTREEVIEWW*>(header)->itemNew.hItem);
      return true;
    case NM_DBLCLK:
      OnDoubleClick();
      result = 0;
      return true;
    case NM_RCLICK:
      OnRightClick();
      result = 0;  // not handled: the tree goes on to send WM_CONTEXTMENU
      return true;
    default:
      return false;
  }
}

void CIndexDlg::OnTreeRightClick(POINT screen) {
  POINT client = screen;
  ::ScreenToClient(tree_.Handle(), &client);
  UINT where = 0;
  HTREEITEM item = tree_.HitTest(client, &where);
  const CPublishDir* record = (where & TVHT_ONITEMLABEL) != 0 ? RecordOf(item) : nullptr;
  if (record == nullptr) return;
  const CPublishDir chosen = *record;  // the item may be gone once the command has run
  std::wstring path = ToWide(DirRecordPath(chosen));

  wtl::CPopupMenu menu;
  menu.Append(ID_DIR_EXPORT, LoadResString(IDS_DIR_EXPORT));
  menu.AppendSeparator();
  menu.Append(ID_DIR_PUBLISH, LoadResString(IDS_DIR_PUBLISH));
  menu.Append(ID_DIR_CANCEL, LoadResString(IDS_CANCEL_PUBLISH));
  menu.AppendSeparator();
  menu.Append(ID_DIR_DELETE, LoadResString(IDS_DIR_DELETE));
  menu.AppendSeparator();
  menu.Append(ID_DIR_AUTO, LoadResString(IDS_DIR_AUTO));
  switch (menu.Track(hwnd_, screen)) {
    case ID_DIR_EXPORT:
      ExportLinks(chosen);
      break;
    case ID_DIR_PUBLISH:
      if (files_ != nullptr) files_->PublishAllListed();
      break;
    case ID_DIR_CANCEL:
      if (files_ != nullptr) files_->OnCancelPublish();
      break;
    case ID_DIR_DELETE:
      // The reply is not looked at: the item goes whatever the server answers.
      DeletePublishDirectory(path);
      DeleteDirectory(item);
      if (files_ != nullptr) files_->ClearList();
      break;
    case ID_DIR_AUTO:
      SetAutoPublishDirectory(path);
      break;
    default:
      break;
  }
}

void CIndexDlg::DeleteDirectory(HTREEITEM item) {
  const CPublishDir* record = RecordOf(item);
  // The selection goes to the root first, so that no other directory is loaded as the item goes.
  if (tree_.Selected() == item) tree_.Select(dirRoot_);
  tree_.Delete(item);
  delete record;
}

void CIndexDlg::ExportLinks(const CPublishDir& record) {
  ExportChoice choice;
  if (!RunExportDialog(::GetActiveWindow(), choice)) return;
  std::wstring text = RequestExportLinks(ToWide(DirRecordPath(record)), choice);
  ShowLinksInNotepad(text, choice.exportOnly == 0);
}

void CIndexDlg::OnAddPublishDir() {
  std::wstring initial;
  for (HTREEITEM child = tree_.FirstChild(dirRoot_); child != nullptr; child = tree_.NextSibling(child)) {
    if (const CPublishDir* record = RecordOf(child)) initial = ToWide(DirRecordPath(*record));
  }
  CAddPublishDirDlg dialog;
  dialog.SetInitialFolder(initial);
  if (dialog.DoModal(::GetActiveWindow()) != IDOK) return;
  AddPublishDirectory(dialog.Path(), dialog.PublishAll());
}

void CIndexDlg::AddPublishDirectory(const std::wstring& path, int publishAll) {
  if (path.empty()) return;
  if (::AddPublishDirectory(path, publishAll) != kResultOk) return;  // refused or failed: nothing changes
  RefreshDirectories(true);
  if (files_ != nullptr) files_->ShowDirectory(path);
  SetFilesMode(kViewDirectory);
}

bool CIndexDlg::OnCommand(int id, int code, HWND /*control*/) {
  if (id == IDC_INDEX_ADD && code == BN_CLICKED) {
    OnAddPublishDir();
    return true;
  }
  return false;
}

void CIndexDlg::FreeRecords() {
  for (HTREEITEM child = tree_.FirstChild(dirRoot_); child != nullptr; child = tree_.NextSibling(child)) {
    delete RecordOf(child);
  }
}

bool CIndexDlg::OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& /*result*/) {
  switch (message) {
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(w) != tree_.Handle()) return false;
      OnTreeRightClick(POINT{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))});
      return true;
    case WM_DESTROY:
      FreeRecords();
      return false;
    default:
      return false;
  }
}
