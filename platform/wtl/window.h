// CWindow: owns nothing but an HWND; each method is one or two Win32 calls.
#pragma once
#include <windows.h>

#include <string>

namespace wtl {

class CWindow {
 public:
  CWindow() = default;
  explicit CWindow(HWND hwnd) : hwnd_(hwnd) {}

  HWND Handle() const { return hwnd_; }
  bool IsWindow() const { return hwnd_ != nullptr && ::IsWindow(hwnd_) != FALSE; }
  bool IsVisible() const { return ::IsWindowVisible(hwnd_) != FALSE; }
  bool IsIconic() const { return ::IsIconic(hwnd_) != FALSE; }

  HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }
  bool Show(int command) const { return ::ShowWindow(hwnd_, command) != FALSE; }
  bool Move(int x, int y, int width, int height, bool repaint = true) const {
    return ::MoveWindow(hwnd_, x, y, width, height, repaint) != FALSE;
  }
  bool Invalidate(bool erase = true) const { return ::InvalidateRect(hwnd_, nullptr, erase) != FALSE; }
  void ModifyStyle(LONG remove, LONG add) const {
    ::SetWindowLongW(hwnd_, GWL_STYLE, (::GetWindowLongW(hwnd_, GWL_STYLE) & ~remove) | add);
  }
  bool SetText(const std::wstring& text) const { return ::SetWindowTextW(hwnd_, text.c_str()) != FALSE; }
  std::wstring Text(int maxChars = 260) const {
    std::wstring text(static_cast<size_t>(maxChars) + 1, L'\0');
    int n = ::GetWindowTextW(hwnd_, text.data(), maxChars + 1);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return text;
  }
  std::wstring ItemText(int id, int maxChars = 260) const { return CWindow(Item(id)).Text(maxChars); }
  bool SetItemText(int id, const std::wstring& text) const {
    return ::SetDlgItemTextW(hwnd_, id, text.c_str()) != FALSE;
  }
  bool IsChecked(int id) const { return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }
  LRESULT Send(UINT message, WPARAM w = 0, LPARAM l = 0) const { return ::SendMessageW(hwnd_, message, w, l); }
  LRESULT SendItem(int id, UINT message, WPARAM w = 0, LPARAM l = 0) const {
    return ::SendDlgItemMessageW(hwnd_, id, message, w, l);
  }
  bool Post(UINT message, WPARAM w = 0, LPARAM l = 0) const { return ::PostMessageW(hwnd_, message, w, l) != FALSE; }

  // Centres on `over`, or on the work area of the screen when it is null or hidden.
  void Center(HWND over = nullptr) const {
    RECT me{}, area{};
    ::GetWindowRect(hwnd_, &me);
    if (over != nullptr && ::IsWindowVisible(over)) {
      ::GetWindowRect(over, &area);
    } else {
      ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    int w = me.right - me.left, h = me.bottom - me.top;
    int x = area.left + ((area.right - area.left) - w) / 2;
    int y = area.top + ((area.bottom - area.top) - h) / 2;
    ::SetWindowPos(hwnd_, nullptr, x < 0 ? 0 : x, y < 0 ? 0 : y, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

 protected:
  HWND hwnd_ = nullptr;
};

}  // namespace wtl
