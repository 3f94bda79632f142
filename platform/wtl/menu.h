// CPopupMenu: a context menu built on the spot and tracked until the user
// picks an entry, which comes back as the menu's result (TPM_RETURNCMD).
#pragma once
#include <windows.h>

#include <string>

namespace wtl {

class CPopupMenu {
 public:
  CPopupMenu() : menu_(::CreatePopupMenu()) {}
  ~CPopupMenu() {
    if (menu_ != nullptr) ::DestroyMenu(menu_);
  }
  CPopupMenu(const CPopupMenu&) = delete;
  CPopupMenu& operator=(const CPopupMenu&) = delete;

  HMENU Handle() const { return menu_; }
  bool Append(UINT id, const std::wstring& text) const {
    return ::AppendMenuW(menu_, MF_STRING, id, text.c_str()) != FALSE;
  }
  bool AppendSeparator() const { return ::AppendMenuW(menu_, MF_SEPARATOR, 0, nullptr) != FALSE; }
  // Tracks the menu with the right button at a screen point kept inside its
  // monitor; the chosen entry's id, 0 when none was chosen.
  UINT Track(HWND owner, POINT screen) const;
  // Tracks the menu with the left button, as a notification icon's menu is:
  // the chosen entry comes to the owner as WM_COMMAND.
  bool TrackForCommand(HWND owner, POINT screen) const {
    return ::TrackPopupMenu(menu_, TPM_LEFTBUTTON, screen.x, screen.y, 0, owner, nullptr) != FALSE;
  }

 private:
  HMENU menu_;
};

// The call that tracks a menu; tests put their own in place of the modal
// TrackPopupMenu to pick an entry and look at the menu. Null restores it.
using MenuTracker = UINT (*)(HMENU menu, POINT screen, HWND owner);
void SetMenuTracker(MenuTracker tracker);

}  // namespace wtl
