// CStatusBar: a status bar by its HWND; each method is one or two Win32 calls.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "platform/wtl/window.h"

namespace wtl {

class CStatusBar : public CWindow {
 public:
  CStatusBar() = default;
  explicit CStatusBar(HWND hwnd) : CWindow(hwnd) {}

  bool Create(HWND parent, DWORD style, HINSTANCE instance) {
    hwnd_ = ::CreateWindowExW(0, STATUSCLASSNAMEW, L"", style, 0, 0, 0, 0, parent, nullptr, instance, nullptr);
    return hwnd_ != nullptr;
  }
  // The parts by their right edges in client pixels; -1 runs to the end.
  bool SetParts(int count, const int* rightEdges) const {
    return Send(SB_SETPARTS, static_cast<WPARAM>(count), reinterpret_cast<LPARAM>(rightEdges)) != 0;
  }
  bool SetIcon(int part, HICON icon) const {
    return Send(SB_SETICON, static_cast<WPARAM>(part), reinterpret_cast<LPARAM>(icon)) != 0;
  }
};

}  // namespace wtl
