// The one dialog procedure of all our dialogs: it finds the object from the
// window's user slot and hands each message to its hooks.
#include "platform/wtl/dialog.h"

#include "platform/wtl/module.h"

namespace wtl {

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
  CDialogBase* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<CDialogBase*>(l);
    ::SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    if (self != nullptr) self->hwnd_ = hwnd;
  } else {
    self = reinterpret_cast<CDialogBase*>(::GetWindowLongPtrW(hwnd, DWLP_USER));
  }
  if (self == nullptr) return FALSE;

  LRESULT result = 0;
  bool handled = self->Dispatch(message, w, l, result);
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
    self->OnFinalMessage();
    return FALSE;
  }
  if (!handled) return FALSE;
  switch (message) {
    // These return their value directly rather than through DWLP_MSGRESULT.
    case WM_INITDIALOG:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      ::SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

bool CDialogBase::Dispatch(UINT message, WPARAM w, LPARAM l, LRESULT& result) {
  switch (message) {
    case WM_INITDIALOG:
      result = OnInitDialog();
      return true;
    case WM_COMMAND:
      return OnCommand(LOWORD(w), HIWORD(w), reinterpret_cast<HWND>(l));
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(l);
      return header != nullptr && OnNotify(static_cast<int>(header->idFrom), header, result);
    }
    case WM_TIMER:
      return OnTimer(w);
    case WM_SIZE:
      return OnSize(static_cast<UINT>(w), LOWORD(l), HIWORD(l));
    default:
      return OnMessage(message, w, l, result);
  }
}

INT_PTR CModalDialog::DoModal(HWND parent) {
  return ::DialogBoxParamW(ResourceInstance(), MAKEINTRESOURCEW(TemplateId()), parent, DialogProc,
                           reinterpret_cast<LPARAM>(static_cast<CDialogBase*>(this)));
}

bool CModalDialog::OnCommand(int id, int /*code*/, HWND /*control*/) {
  if (id == IDOK || id == IDCANCEL) return End(id);
  return false;
}

CModelessDialog::~CModelessDialog() {
  if (hwnd_ != nullptr && ::IsWindow(hwnd_)) ::DestroyWindow(hwnd_);
}

HWND CModelessDialog::Create(HWND parent) {
  return ::CreateDialogParamW(ResourceInstance(), MAKEINTRESOURCEW(TemplateId()), parent, DialogProc,
                              reinterpret_cast<LPARAM>(static_cast<CDialogBase*>(this)));
}

bool CModelessDialog::Destroy() {
  if (hwnd_ == nullptr) return false;
  return ::DestroyWindow(hwnd_) != FALSE;
}

}  // namespace wtl
