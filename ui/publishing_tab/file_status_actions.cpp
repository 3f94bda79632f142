// What the file list does for the user: details and links of a file, moving
// between directories, publishing, cancelling, exporting, copying and its
// context menu.
#include <shlwapi.h>

#include "foundation/util/desktop_ops.h"
#include "foundation/util/wide_text.h"
#include "platform/wtl/menu.h"
#include "ui/app/res_string.h"
#include "ui/client/codec/control_codec.h"
#include "ui/client/control_client.h"
#include "ui/peer_lists/list_helpers.h"
#include "ui/publishing_tab/export_links.h"
#include "ui/publishing_tab/file_status_dlg.h"
#include "ui/client_settings/settings_cache.h"

void CFileStatusDlg::ShowDetails(int row) {
  if (row < 0 || static_cast<size_t>(row) >= records_.size()) return;
  const CPublishItem& record = records_[static_cast<size_t>(row)];
  std::wstring path = ToWide(RecordPath(record));
  SetItemText(IDC_FILES_PATH, path);
  if (IsDirectoryRecord(record) || !IsPublished(record)) {
    for (int id : {IDC_FILES_FTP_LINK, IDC_FILES_P2P_LINK, IDC_FILES_FID}) SetItemText(id, L"");
    return;
  }
  SetItemText(IDC_FILES_FTP_LINK, BuildFtpLink(path));
  SetItemText(IDC_FILES_P2P_LINK, ToWide(FileP2pLink(record)));
  SetItemText(IDC_FILES_FID, ToWide(FidText(record)));
}

std::wstring CFileStatusDlg::BuildFtpLink(const std::wstring& path) const {
  SettingsCache& cache = Cache();
  if (!cache.ftpPassword.empty() && cache.ftpUser.empty()) cache.ftpUser = L"anonymous";
  FtpLinkSettings settings;
  settings.user = std::u16string(AsU16(cache.ftpUser));
  settings.password = std::u16string(AsU16(cache.ftpPassword));
  settings.host = std::u16string(AsU16(cache.ftpHost));
  settings.port = cache.ftpPort;
  for (const FtpShareDirEntry& entry : cache.ftpDirs) {
    settings.shares.push_back({PackedText(entry.first, kPathUnits), PackedText(entry.second, kPathUnits), entry.isHome});
  }
  return ToWide(FileFtpLink(AsU16(path), settings));
}

void CFileStatusDlg::GoUp() {
  if (shownPath_.empty() || lstrcmpiW(shownPath_.c_str(), topDir_.c_str()) == 0) return;
  wchar_t parent[MAX_PATH] = {};
  lstrcpynW(parent, shownPath_.c_str(), MAX_PATH);
  PathRemoveFileSpecW(parent);
  if (PathIsDirectoryW(parent)) RefreshPath(parent, true);
}

void CFileStatusDlg::OpenRow(int row) {
  if (shownPath_.empty()) return;  // the unpublished view lists no one directory
  std::wstring path = RowPath(row);
  if (PathIsDirectoryW(path.c_str())) RefreshPath(path, true);
}

void CFileStatusDlg::PublishAllListed() {
  // One request per file, each file once.
  for (const CPublishItem& record : records_) {
    if (record.state < kPublishDone) PublishFile(ToWide(RecordPath(record)));
  }
}

void CFileStatusDlg::PublishSelected() {
  std::vector<int> selected = list_.SelectedRows();
  if (mode_ == kViewUnpublished || selected.empty()) {
    // "Publish all files" requests every listed file below state 8 whatever the selection.
    for (int row : selected) list_.Select(row, false);
    PublishAllListed();
    return;
  }
  for (int row : selected) {
    if (static_cast<size_t>(row) < records_.size() && records_[static_cast<size_t>(row)].state < kPublishDone) {
      PublishFile(ToWide(RecordPath(records_[static_cast<size_t>(row)])));
    }
    list_.Select(row, false);
  }
}

void CFileStatusDlg::CancelItem(int row) {
  if (row < 0 || static_cast<size_t>(row) >= records_.size()) return;
  CancelPublishFile(RowPath(row));
  list_.RedrawRows(row, row);
}

void CFileStatusDlg::OnCancelPublish() {
  std::vector<int> selected = list_.SelectedRows();
  if (selected.empty()) {
    int rows = list_.RowCount();
    for (int row = 0; row < rows; ++row) CancelItem(row);
    return;
  }
  for (int row : selected) {
    CancelItem(row);
    list_.Select(row, false);
  }
}

void CFileStatusDlg::ExportSelectedLinks() {
  ExportChoice choice;
  if (!RunExportDialog(::GetActiveWindow(), choice)) return;
  std::vector<int> selected = list_.SelectedRows();
  std::wstring text;
  if (selected.empty()) {
    text = RequestExportLinks(shownPath_, choice);
  } else {
    for (int row : selected) {
      if (static_cast<size_t>(row) < records_.size()) {
        text += RequestExportLinks(ToWide(RecordPath(records_[static_cast<size_t>(row)])), choice);
      }
      list_.Select(row, false);
    }
  }
  ShowLinksInNotepad(text, choice.exportOnly == 0);
}

void CFileStatusDlg::CopyEditText(int editId) {
  std::wstring text = ItemText(editId, 1024);
  if (!text.empty()) CopyTextToClipboard(hwnd_, text);
}

void CFileStatusDlg::OnContextMenu(POINT screen) {
  RECT listRect{};
  ::GetWindowRect(list_.Handle(), &listRect);
  if (!list_.IsVisible() || !::PtInRect(&listRect, screen) || list_.SelectedCount() < 1) return;
  wtl::CPopupMenu menu;
  menu.Append(ID_FILES_PUBLISH, LoadResString(IDS_PUBLISH_FILES));
  if (mode_ != kViewUnpublished) {
    menu.AppendSeparator();
    menu.Append(ID_FILES_CANCEL, LoadResString(IDS_CANCEL_PUBLISH));
    menu.AppendSeparator();
    menu.Append(ID_FILES_EXPORT, LoadResString(IDS_EXPORT_LINK_ADDRESSES));
    menu.AppendSeparator();
    menu.Append(ID_FILES_OPEN_FOLDER, LoadResString(IDS_OPEN_FOLDER));
  }
  switch (menu.Track(hwnd_, screen)) {
    case ID_FILES_PUBLISH:
      PublishSelected();
      break;
    case ID_FILES_CANCEL:
      OnCancelPublish();
      break;
    case ID_FILES_EXPORT:
      ExportSelectedLinks();
      break;
    case ID_FILES_OPEN_FOLDER:
      OpenFolder(hwnd_, shownPath_);
      break;
    default:
      break;
  }
}

bool CFileStatusDlg::OnCommand(int id, int code, HWND /*control*/) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_FILES_UP:
      GoUp();
      return true;
    case IDC_FILES_PUBLISH:
      PublishSelected();
      return true;
    case IDC_FILES_CANCEL:
      OnCancelPublish();
      return true;
    case IDC_FILES_EXPORT:
      ExportSelectedLinks();
      return true;
    case IDC_FILES_REFRESH:
      if (mode_ == kViewDirectory) RefreshPath(shownPath_, false);
      return true;
    case IDC_FILES_FTP_COPY:
      CopyEditText(IDC_FILES_FTP_LINK);
      return true;
    case IDC_FILES_P2P_COPY:
      CopyEditText(IDC_FILES_P2P_LINK);
      return true;
    default:
      return false;
  }
}
