// CTreeView: a tree control by its HWND; each method is one message.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/wtl/window.h"

namespace wtl {

class CTreeView : public CWindow {
 public:
  CTreeView() = default;
  explicit CTreeView(HWND hwnd) : CWindow(hwnd) {}
  void Attach(HWND hwnd) { hwnd_ = hwnd; }

  HTREEITEM Insert(HTREEITEM parent, HTREEITEM after, const std::wstring& text, int image, int selectedImage,
                   LPARAM data = 0) const {
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.iImage = image;
    insert.item.iSelectedImage = selectedImage;
    insert.item.lParam = data;
    return reinterpret_cast<HTREEITEM>(Send(TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
  }
  HTREEITEM Next(HTREEITEM item, UINT relation) const {
    return reinterpret_cast<HTREEITEM>(Send(TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(item)));
  }
  HTREEITEM FirstChild(HTREEITEM item) const { return Next(item, TVGN_CHILD); }
  HTREEITEM NextSibling(HTREEITEM item) const { return Next(item, TVGN_NEXT); }
  HTREEITEM Selected() const { return Next(nullptr, TVGN_CARET); }
  bool Select(HTREEITEM item) const { return Send(TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)) != 0; }
  bool Expand(HTREEITEM item) const { return Send(TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item)) != 0; }
  bool Delete(HTREEITEM item) const { return Send(TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(item)) != 0; }
  LPARAM Data(HTREEITEM item) const {
    TVITEMW tv{};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    return Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv)) != 0 ? tv.lParam : 0;
  }
  std::wstring ItemText(HTREEITEM item) const {
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT | TVIF_HANDLE;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    return Send(TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv)) != 0 ? std::wstring(text) : std::wstring();
  }
  // The item at a point in client coordinates, with the TVHT_ flags of where it was hit.
  HTREEITEM HitTest(POINT client, UINT* flags = nullptr) const {
    TVHITTESTINFO info{};
    info.pt = client;
    auto item = reinterpret_cast<HTREEITEM>(Send(TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&info)));
    if (flags != nullptr) *flags = info.flags;
    return item;
  }
  HIMAGELIST SetImageList(HIMAGELIST list) const {
    return reinterpret_cast<HIMAGELIST>(Send(TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(list)));
  }
};

}  // namespace wtl
