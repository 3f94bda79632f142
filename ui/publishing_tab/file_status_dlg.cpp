// The file list's views, loading, layout and the texts of its cells.
#include "ui/publishing_tab/file_status_dlg.h"

#include <shlwapi.h>

#include "foundation/text/size_text.h"
#include "foundation/util/file_ops.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/peer_lists/list_helpers.h"

namespace {

constexpr DWORD kListStyles = LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_ONECLICKACTIVATE |
                              LVS_EX_UNDERLINEHOT | LVS_EX_DOUBLEBUFFER;  // 0x10861
static_assert(kListStyles == 0x10861);

const ListColumn kDirectoryColumns[kFileListColumns] = {
    {IDS_COL_NAME, 180}, {IDS_COL_SIZE, 80}, {IDS_COL_MODIFIED_AT, 160}, {IDS_COL_STATE, 60}, {IDS_COL_PUBLISHED_AT, 160}};
const ListColumn kUnpublishedColumns[kFileListColumns] = {
    {IDS_COL_NAME, 180}, {IDS_COL_SIZE, 80}, {IDS_COL_MODIFIED_AT, 80}, {IDS_COL_STATE, 80}, {IDS_COL_PATH, 180}};

// Controls that only the directory view shows.
const int kDirectoryOnly[] = {IDC_FILES_UP,        IDC_FILES_CANCEL,    IDC_FILES_EXPORT,   IDC_FILES_FTP_LABEL,
                              IDC_FILES_P2P_LABEL, IDC_FILES_FID_LABEL, IDC_FILES_FTP_LINK, IDC_FILES_P2P_LINK,
                              IDC_FILES_FID,       IDC_FILES_FTP_COPY,  IDC_FILES_P2P_COPY};

constexpr int kButtonLeft = 2, kButtonTop = 5, kButtonGap = 4;
constexpr int kListLeft = 2, kListTop = 56;
constexpr int kLinkRoom = 98;  // below the list in the directory view

std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

FILETIME AsFileTime(int64_t value) {
  auto v = static_cast<uint64_t>(value);
  return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

}  // namespace

CFileStatusDlg::~CFileStatusDlg() {
  if (images_ != nullptr) ImageList_Destroy(images_);
}

BOOL CFileStatusDlg::OnInitDialog() {
  layout_.Start(hwnd_);
  layout_.Add(IDC_FILES_PATH, kAnchorLeft | kAnchorRight);
  layout_.Add(IDC_FILES_LIST, kAnchorAll);
  for (int id : {IDC_FILES_FTP_LABEL, IDC_FILES_P2P_LABEL, IDC_FILES_FID_LABEL}) layout_.Add(id, kAnchorBottom);
  for (int id : {IDC_FILES_FTP_LINK, IDC_FILES_P2P_LINK, IDC_FILES_FID}) {
    layout_.Add(id, kAnchorLeft | kAnchorRight | kAnchorBottom);
  }
  for (int id : {IDC_FILES_FTP_COPY, IDC_FILES_P2P_COPY}) layout_.Add(id, kAnchorRight | kAnchorBottom);

  list_.Attach(Item(IDC_FILES_LIST));
  list_.SetExtendedStyle(kListStyles);
  list_.ModifyStyle(LVS_SINGLESEL, LVS_SHAREIMAGELISTS);
  images_ = LoadListImages();
  return TRUE;
}

void CFileStatusDlg::SetListMode(int mode) {
  if (mode == mode_) return;
  mode_ = mode;
  LayoutControls();
  list_.ModifyStyle(LVS_SINGLESEL, 0);
  list_.SetImageList(nullptr);
  list_.DeleteAllRows();
  list_.DeleteAllColumns();
  InsertListColumns(list_, mode == kViewUnpublished ? kUnpublishedColumns : kDirectoryColumns, kFileListColumns);
  list_.SetImageList(images_);
  ShowControlsOfView();
  if (mode == kViewUnpublished) {
    // -1 rather than 0: the count text is written at the first load even when there is nothing.
    lastUnpublishedCount_ = -1;
    RefreshUnpublished();
  }
}

void CFileStatusDlg::ShowControlsOfView() {
  int show = mode_ == kViewUnpublished ? SW_HIDE : SW_SHOW;
  for (int id : kDirectoryOnly) ::ShowWindow(Item(id), show);
}

void CFileStatusDlg::LayoutControls() {
  if (list_.Handle() == nullptr) return;
  RECT client{}, reference{};
  ::GetClientRect(hwnd_, &client);
  ::GetWindowRect(Item(IDC_FILES_REFRESH), &reference);
  const int width = reference.right - reference.left, height = reference.bottom - reference.top;
  const bool unpublished = mode_ == kViewUnpublished;
  SetItemText(IDC_FILES_PUBLISH, LoadResString(unpublished ? IDS_PUBLISH_ALL_FILES : IDS_PUBLISH_FILES));

  static const int kDirectoryRow[] = {IDC_FILES_UP, IDC_FILES_PUBLISH, IDC_FILES_CANCEL, IDC_FILES_EXPORT,
                                      IDC_FILES_REFRESH};
  static const int kUnpublishedRow[] = {IDC_FILES_PUBLISH, IDC_FILES_REFRESH};
  const int* row = unpublished ? kUnpublishedRow : kDirectoryRow;
  const size_t count = unpublished ? std::size(kUnpublishedRow) : std::size(kDirectoryRow);
  int x = kButtonLeft;
  for (size_t i = 0; i < count; ++i) {
    int w = unpublished && row[i] == IDC_FILES_PUBLISH ? width + 16 : width;
    ::MoveWindow(Item(row[i]), x, kButtonTop, w, height, TRUE);
    x += w + kButtonGap;
  }
  int listHeight = client.bottom - kListTop - (unpublished ? 0 : kLinkRoom);
  list_.Move(kListLeft, kListTop, client.right - 2 * kListLeft, listHeight > 0 ? listHeight : 0);
}

bool CFileStatusDlg::OnSize(UINT /*type*/, int width, int height) {
  layout_.OnSize(width, height);
  LayoutControls();
  return true;
}

void CFileStatusDlg::ShowDirectory(const std::wstring& path) {
  topDir_ = path;
  RefreshPath(path, true);
}

void CFileStatusDlg::RefreshPath(const std::wstring& path, bool changeTest) {
  if (!IsVisible()) return;
  if (changeTest) {
    if (lstrcmpiW(path.c_str(), shownPath_.c_str()) == 0) return;
    shownPath_ = path;
    if (!shownPath_.empty()) SetItemText(IDC_FILES_PATH, shownPath_);
  }
  if (shownPath_.empty()) return;
  records_.clear();
  // 0 is a reply without a status: the rows stay as they were. Any other
  // failure leaves no records, so the list empties.
  if (GetDirectoryFiles(shownPath_, records_) == 0) return;
  ShowLoadedRows();
}

void CFileStatusDlg::RefreshUnpublished() {
  if (!IsVisible()) return;
  shownPath_.clear();
  records_.clear();
  if (GetUnpublishedFiles(records_) != 0) ShowLoadedRows();
  int count = static_cast<int>(records_.size());
  if (count != lastUnpublishedCount_) {
    lastUnpublishedCount_ = count;
    SetItemText(IDC_FILES_PATH, FormatResString(IDS_UNPUBLISHED_COUNT, std::to_wstring(count)));
  }
}

void CFileStatusDlg::ClearList() {
  shownPath_.clear();
  list_.DeleteAllRows();
  SetItemText(IDC_FILES_PATH, L"");
}

void CFileStatusDlg::ShowLoadedRows() {
  SortRows(records_, sort_, [this](const CPublishItem& a, const CPublishItem& b, int column) {
    return CompareFileRecords(a, b, column, mode_);
  });
  list_.SetRowCount(records_.size());
}

void CFileStatusDlg::OnColumnClick(int column) {
  sort_.Click(column);
  ShowLoadedRows();
}

std::wstring CFileStatusDlg::CellText(int row, int column) const {
  if (row < 0 || static_cast<size_t>(row) >= records_.size()) return {};
  const CPublishItem& record = records_[static_cast<size_t>(row)];
  const bool directory = IsDirectoryRecord(record);
  switch (column) {
    case 0:
      return ToWide(LastPathComponent(RecordPath(record)));
    case 1:
      return directory ? std::wstring() : Ascii(FormatFileSize(record.fileSize));
    case 2:
      return directory ? std::wstring() : Ascii(FileTimeText(AsFileTime(record.lastModTime)));
    case 3: {
      unsigned text = FileStateTextId(record.state);
      return text != 0 ? LoadResString(text) : std::wstring();
    }
    case 4:
      if (mode_ == kViewUnpublished) return ToWide(RecordPath(record));
      // The publish time already holds local time.
      return IsPublished(record) ? Ascii(LocalFileTimeText(AsFileTime(record.pubTime))) : std::wstring();
    default:
      return {};
  }
}

std::wstring CFileStatusDlg::RowPath(int row) const {
  return PathJoin(shownPath_, CellText(row, 0));
}

bool CFileStatusDlg::OnTimer(UINT_PTR id) {
  if (id != kFileListTimer) return false;
  if (mode_ == kViewUnpublished) {
    RefreshUnpublished();
  } else if (mode_ == kViewDirectory) {
    RefreshPath(shownPath_, false);
  }
  return true;
}

bool CFileStatusDlg::OnNotify(int id, NMHDR* header, LRESULT& result) {
  if (id != IDC_FILES_LIST) return false;
  switch (header->code) {
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
      int row = info->item.iItem;
      int image = row >= 0 && static_cast<size_t>(row) < records_.size() ? FileRowImage(records_[static_cast<size_t>(row)]) : -1;
      FillDispInfo(info, CellText(row, info->item.iSubItem), image);
      return true;
    }
    case LVN_COLUMNCLICK:
      OnColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
      return true;
    case NM_CLICK: {
      int row = reinterpret_cast<NMITEMACTIVATE*>(header)->iItem;
      if (row >= 0) ShowDetails(row);
      return true;
    }
    case LVN_ITEMCHANGED:
      if (list_.SelectedCount() < 2) {
        int row = list_.NextSelected(-1);
        if (row >= 0) ShowDetails(row);
      }
      return true;
    case NM_DBLCLK: {
      int row = reinterpret_cast<NMITEMACTIVATE*>(header)->iItem;
      if (row >= 0) OpenRow(row);
      return true;
    }
    default:
      result = 0;
      return false;
  }
}

bool CFileStatusDlg::OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& /*result*/) {
  switch (message) {
    case WM_SHOWWINDOW:
      // The first showing starts the reload; it runs until the program ends and pauses while hidden.
      if (w != FALSE && timer_ == 0) timer_ = ::SetTimer(hwnd_, kFileListTimer, kFileListPeriodMs, nullptr);
      return false;
    case WM_CONTEXTMENU:
      OnContextMenu(POINT{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))});
      return true;
    default:
      return false;
  }
}
