// The Win32 half of the layout engine: template lookup, base units from the
// template's font, and the deferred batch with its pending-rectangle properties.
#include "ui/layout/dialog_layout.h"

#include "platform/wtl/module.h"

namespace {

ATOM g_atomBatch = 0;
ATOM g_atomTopLeft = 0;
ATOM g_atomBottomRight = 0;
ATOM g_buttonAtom = 0;

const wchar_t kAlphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

void SetPropValue(HWND window, ATOM atom, UINT_PTR value) {
  SetPropW(window, MAKEINTATOM(atom), reinterpret_cast<HANDLE>(value));
}

UINT_PTR PropValue(HWND window, ATOM atom) { return reinterpret_cast<UINT_PTR>(GetPropW(window, MAKEINTATOM(atom))); }

}  // namespace

void DialogLayoutStartup() {
  if (g_atomBatch == 0) g_atomBatch = GlobalAddAtomW(L"DialogLayout_HDWP");
  if (g_atomTopLeft == 0) g_atomTopLeft = GlobalAddAtomW(L"DialogLayout_TopLeft");
  if (g_atomBottomRight == 0) g_atomBottomRight = GlobalAddAtomW(L"DialogLayout_BottomRight");
}

void DialogLayoutShutdown() {
  for (ATOM* atom : {&g_atomBatch, &g_atomTopLeft, &g_atomBottomRight}) {
    if (*atom != 0) GlobalDeleteAtom(*atom);
    *atom = 0;
  }
}

CDialogLayout::CDialogLayout(int templateId) {
  HINSTANCE module = wtl::ModuleInstance();
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(templateId), MAKEINTRESOURCEW(5) /* RT_DIALOG */);
  if (found == nullptr) return;
  HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (bytes == nullptr) return;
  haveTemplate_ = ParseDialogTemplate(static_cast<const uint8_t*>(bytes), SizeofResource(module, found), template_,
                                      items_);
}

BaseUnits CDialogLayout::ComputeBaseUnits() const {
  LONG units = GetDialogBaseUnits();
  BaseUnits system{LOWORD(units), HIWORD(units)};
  if (!template_.hasFont) return system;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return system;
  POINT height{0, -MulDiv(template_.pointSize, GetDeviceCaps(screen, LOGPIXELSY), 72)};
  DPtoLP(screen, &height, 1);
  std::wstring face(template_.face.begin(), template_.face.end());
  HFONT font = CreateFontW(height.y < 0 ? height.y : -height.y, 0, 0, 0,
                           template_.weight != 0 ? template_.weight : FW_NORMAL, template_.italic, FALSE, FALSE,
                           DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, face.c_str());
  BaseUnits result = system;
  if (font != nullptr) {
    HGDIOBJ old = SelectObject(screen, font);
    TEXTMETRICW metrics{};
    SIZE extent{};
    if (GetTextMetricsW(screen, &metrics) && GetTextExtentPoint32W(screen, kAlphabet, 52, &extent)) {
      result = BaseUnitsFromMetrics(extent.cx, metrics.tmHeight);
    }
    SelectObject(screen, old);
    DeleteObject(font);
  }
  ReleaseDC(nullptr, screen);
  return result;
}

void CDialogLayout::Start(HWND dialog) {
  dialog_ = dialog;
  controls_.clear();
  if (g_buttonAtom == 0) {
    WNDCLASSEXW info{sizeof info};
    g_buttonAtom = static_cast<ATOM>(GetClassInfoExW(nullptr, L"Button", &info));
  }
  if (base_.x == 0 && base_.y == 0) base_ = ComputeBaseUnits();
  root_ = LayoutRect{0, 0, template_.cx, template_.cy};
}

void CDialogLayout::Add(int controlId, uint32_t anchors) {
  for (const DialogItemInfo& item : items_) {
    if (item.id == static_cast<uint32_t>(controlId) ||
        (!template_.extended && item.id == static_cast<uint16_t>(controlId))) {
      controls_.push_back(Control{controlId, anchors, ItemMargins(item, root_, base_)});
      return;
    }
  }
}

bool CDialogLayout::MarginsOf(int controlId, LayoutMargins& out) const {
  for (const Control& c : controls_) {
    if (c.id == controlId) {
      out = c.margins;
      return true;
    }
  }
  return false;
}

LayoutRect CDialogLayout::CurrentRect(HWND control, HDWP batch) const {
  if (g_atomBatch != 0 && PropValue(control, g_atomBatch) == reinterpret_cast<UINT_PTR>(batch)) {
    return UnpackRect(static_cast<uint32_t>(PropValue(control, g_atomTopLeft)),
                      static_cast<uint32_t>(PropValue(control, g_atomBottomRight)));
  }
  RECT r{};
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
  return LayoutRect{r.left, r.top, r.right, r.bottom};
}

void CDialogLayout::OnSize(int width, int height, bool invalidate) {
  if (dialog_ == nullptr) return;
  HDWP batch = BeginDeferWindowPos(static_cast<int>(controls_.size()));
  if (batch == nullptr) return;
  if (g_atomBatch != 0) SetPropValue(dialog_, g_atomBatch, reinterpret_cast<UINT_PTR>(batch));
  root_ = LayoutRect{0, 0, width, height};
  for (const Control& c : controls_) {
    HWND control = GetDlgItem(dialog_, c.id);
    if (control == nullptr) continue;
    LayoutRect next = AnchoredRect(CurrentRect(control, batch), root_, c.margins, c.anchors);
    if (g_atomBatch != 0) {
      SetPropValue(control, g_atomBatch, reinterpret_cast<UINT_PTR>(batch));
      SetPropValue(control, g_atomTopLeft, PackTopLeft(next));
      SetPropValue(control, g_atomBottomRight, PackBottomRight(next));
    }
    batch = DeferWindowPos(batch, control, nullptr, next.left, next.top, next.right - next.left,
                           next.bottom - next.top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (batch == nullptr) return;
  }
  EndDeferWindowPos(batch);
  // Group boxes leave stale frames behind unless told to redraw them.
  for (HWND child = GetWindow(dialog_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (g_buttonAtom != 0 && static_cast<ATOM>(GetClassLongPtrW(child, GCW_ATOM)) == g_buttonAtom &&
        (GetWindowLongW(child, GWL_STYLE) & 7) == 7) {
      SetWindowPos(child, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);
    }
  }
  if (invalidate) InvalidateRect(dialog_, nullptr, TRUE);
}
