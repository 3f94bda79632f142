// The splitter's window class: it lays its two panes out around the bar and
// moves the bar with the mouse.
#include "platform/wtl/splitter.h"

#include <windowsx.h>

#include "platform/wtl/module.h"

namespace wtl {

namespace {
const wchar_t kClassName[] = L"OrchardSplitter";

bool RegisterOnce() {
  WNDCLASSEXW existing{sizeof existing};
  if (::GetClassInfoExW(ModuleInstance(), kClassName, &existing)) return true;
  WNDCLASSEXW cls{sizeof cls};
  cls.lpfnWndProc = DefWindowProcW;
  cls.hInstance = ModuleInstance();
  cls.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  cls.lpszClassName = kClassName;
  return ::RegisterClassExW(&cls) != 0;
}
}  // namespace

HWND CSplitterWindow::Create(HWND parent, const RECT& rect) {
  if (!RegisterOnce()) return nullptr;
  hwnd_ = ::CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                            rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, parent, nullptr,
                            ModuleInstance(), nullptr);
  if (hwnd_ == nullptr) return nullptr;
  // The class's procedure is the default one until the object is attached.
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  ::SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
  return hwnd_;
}

void CSplitterWindow::SetPanes(HWND left, HWND right) {
  panes_[0] = left;
  panes_[1] = right;
  LayoutPanes();
}

void CSplitterWindow::SetSplitterPos(int x) {
  pos_ = Clamp(x);
  LayoutPanes();
}

int CSplitterWindow::Clamp(int x) const {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  int most = client.right - kBarWidth - minPane_;
  if (x > most) x = most;
  if (x < minPane_) x = minPane_;
  return x;
}

void CSplitterWindow::LayoutPanes() const {
  if (hwnd_ == nullptr) return;
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  if (panes_[0] != nullptr) ::MoveWindow(panes_[0], 0, 0, pos_, client.bottom, TRUE);
  if (panes_[1] != nullptr) {
    int left = pos_ + kBarWidth;
    ::MoveWindow(panes_[1], left, 0, client.right > left ? client.right - left : 0, client.bottom, TRUE);
  }
}

LRESULT CALLBACK CSplitterWindow::WindowProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  auto* self = reinterpret_cast<CSplitterWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, w, l);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    self->hwnd_ = nullptr;
    return ::DefWindowProcW(hwnd, message, w, l);
  }
  return self->OnMessage(message, w, l);
}

LRESULT CSplitterWindow::OnMessage(UINT message, WPARAM w, LPARAM l) {
  switch (message) {
    case WM_SIZE:
      pos_ = Clamp(pos_);
      LayoutPanes();
      return 0;
    case WM_SETCURSOR: {
      POINT at{};
      ::GetCursorPos(&at);
      ::ScreenToClient(hwnd_, &at);
      if (LOWORD(l) == HTCLIENT && OnBar(at.x)) {
        ::SetCursor(::LoadCursorW(nullptr, IDC_SIZEWE));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN:
      if (OnBar(GET_X_LPARAM(l))) {
        dragOffset_ = GET_X_LPARAM(l) - pos_;
        ::SetCapture(hwnd_);
      }
      return 0;
    case WM_MOUSEMOVE:
      if (dragOffset_ >= 0 && ::GetCapture() == hwnd_) SetSplitterPos(GET_X_LPARAM(l) - dragOffset_);
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (dragOffset_ >= 0) {
        dragOffset_ = -1;
        if (::GetCapture() == hwnd_) ::ReleaseCapture();
      }
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, w, l);
}

}  // namespace wtl
