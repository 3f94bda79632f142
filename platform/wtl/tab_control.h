// CTabControl: a tab control by its HWND; each method is one message.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "platform/wtl/window.h"

namespace wtl {

class CTabControl : public CWindow {
 public:
  CTabControl() = default;
  explicit CTabControl(HWND hwnd) : CWindow(hwnd) {}
  void Attach(HWND hwnd) { hwnd_ = hwnd; }

  bool InsertItem(int index, const std::wstring& text) const {
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<wchar_t*>(text.c_str());
    return Send(TCM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)) >= 0;
  }
  void SetMinTabWidth(int width) const { Send(TCM_SETMINTABWIDTH, 0, width); }
  int CurSel() const { return static_cast<int>(Send(TCM_GETCURSEL)); }
  void SetCurSel(int index) const { Send(TCM_SETCURSEL, static_cast<WPARAM>(index)); }
  // The pages' area within a window rectangle given in the same coordinates.
  void AdjustRect(RECT* rect) const { Send(TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(rect)); }
};

}  // namespace wtl
