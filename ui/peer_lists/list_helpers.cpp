// The shared list helpers.
#include "ui/peer_lists/list_helpers.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>

#include "platform/wtl/menu.h"
#include "platform/wtl/module.h"
#include "ui/app/res_string.h"
#include "ui/res/resource.h"

void InsertListColumns(const wtl::CListView& list, const ListColumn* columns, size_t count) {
  for (size_t i = 0; i < count; ++i) list.InsertColumn(static_cast<int>(i), LoadResString(columns[i].title), columns[i].width);
}

void FillDispInfo(NMLVDISPINFOW* info, const std::wstring& text, int image) {
  LVITEMW& item = info->item;
  if ((item.mask & LVIF_TEXT) != 0 && item.pszText != nullptr && item.cchTextMax > 0) {
    size_t room = static_cast<size_t>(item.cchTextMax) - 1;
    size_t n = text.size() < room ? text.size() : room;
    wmemcpy(item.pszText, text.data(), n);
    item.pszText[n] = L'\0';
  }
  if ((item.mask & LVIF_IMAGE) != 0 && item.iSubItem == 0 && image >= 0) item.iImage = image;
}

std::wstring SelectedRowsText(const wtl::CListView& list, int columns) {
  std::wstring text;
  for (int row : list.SelectedRows()) {
    for (int column = 0; column < columns; ++column) {
      text += list.CellText(row, column);
      text += L' ';
    }
    text += L"\r\n";
  }
  return text;
}

HIMAGELIST LoadListImages() {
  return ImageList_LoadImageW(wtl::ModuleInstance(), MAKEINTRESOURCEW(IDB_LIST_IMAGES), 16, 0, RGB(255, 255, 255),
                              IMAGE_BITMAP, LR_CREATEDIBSECTION);
}

UINT TrackCopyOpenMenu(HWND owner, const wtl::CListView& list, POINT screen) {
  RECT listRect{};
  ::GetWindowRect(list.Handle(), &listRect);
  if (!list.IsVisible() || !::PtInRect(&listRect, screen) || list.SelectedCount() < 1) return 0;
  wtl::CPopupMenu menu;
  menu.Append(ID_LIST_COPY, LoadResString(IDS_COPY_SELECTED));
  menu.Append(ID_LIST_OPEN_FOLDER, LoadResString(IDS_OPEN_FOLDER));
  return menu.Track(owner, screen);
}

bool OpenFolder(HWND owner, const std::wstring& folder) {
  if (!folder.empty() && PathIsDirectoryW(folder.c_str())) {
    return reinterpret_cast<INT_PTR>(ShellExecuteW(owner, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
  }
  MessageBoxW(owner, FormatResString(IDS_FOLDER_MISSING, folder).c_str(), LoadResString(IDS_APP_NAME).c_str(),
              MB_OK | MB_ICONWARNING);
  return false;
}
