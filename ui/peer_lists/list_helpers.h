// What every report list of the pages shares: columns from the string
// table, cell texts handed over on LVN_GETDISPINFO, the selected rows as
// text for the clipboard, the image strip, and opening a row's folder.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <string>

#include "platform/wtl/list_view.h"

struct ListColumn {
  unsigned title;  // string id
  int width;       // pixels
};

void InsertListColumns(const wtl::CListView& list, const ListColumn* columns, size_t count);
// Answers LVN_GETDISPINFO: the text, cut to the list's buffer, and for column
// 0 the image when one is given and asked for.
void FillDispInfo(NMLVDISPINFOW* info, const std::wstring& text, int image = -1);
// One line per selected row in row order: the cell texts of the first
// `columns` columns, each followed by one blank, the line ended by "\r\n".
std::wstring SelectedRowsText(const wtl::CListView& list, int columns);
// The 16-pixel images of bitmap 226, white as mask colour; the caller owns it.
HIMAGELIST LoadListImages();
// The menu of the peer and upload lists, "copy selected" and "open the
// folder", tracked only while the list is visible, the point lies on it and a
// row is selected; the chosen entry, 0 when none.
UINT TrackCopyOpenMenu(HWND owner, const wtl::CListView& list, POINT screen);
// Opens a folder in the shell when it is an existing directory; anything
// else gets a message naming it. True when the folder was opened.
bool OpenFolder(HWND owner, const std::wstring& folder);
