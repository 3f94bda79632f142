// Context menus tracked for their returned command.
#include "platform/wtl/menu.h"

namespace wtl {

namespace {

UINT TrackPopup(HMENU menu, POINT screen, HWND owner) {
  return static_cast<UINT>(
      ::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x, screen.y, 0, owner, nullptr));
}

MenuTracker g_tracker = TrackPopup;

// A point from the keyboard's menu key (-1, -1) or off the monitor's work area goes inside it.
POINT ClampToMonitor(POINT at, HWND owner) {
  if (at.x == -1 && at.y == -1 && owner != nullptr) {
    RECT r{};
    ::GetWindowRect(owner, &r);
    at = {r.left, r.top};
  }
  MONITORINFO info{sizeof info};
  if (::GetMonitorInfoW(::MonitorFromPoint(at, MONITOR_DEFAULTTONEAREST), &info)) {
    const RECT& area = info.rcWork;
    if (at.x < area.left) at.x = area.left;
    if (at.y < area.top) at.y = area.top;
    if (at.x >= area.right) at.x = area.right - 1;
    if (at.y >= area.bottom) at.y = area.bottom - 1;
  }
  return at;
}

}  // namespace

UINT CPopupMenu::Track(HWND owner, POINT screen) const {
  if (menu_ == nullptr) return 0;
  return g_tracker(menu_, ClampToMonitor(screen, owner), owner);
}

void SetMenuTracker(MenuTracker tracker) { g_tracker = tracker != nullptr ? tracker : TrackPopup; }

}  // namespace wtl
