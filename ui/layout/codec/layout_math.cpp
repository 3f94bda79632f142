// Anchors keep a control's distance to the edges it is tied to; an edge that is
// not anchored keeps the control's size.
#include "ui/layout/codec/layout_math.h"

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t product = static_cast<int64_t>(a) * b;
  bool negative = (product < 0) != (c < 0);
  int64_t num = product < 0 ? -product : product;
  int64_t den = c < 0 ? -static_cast<int64_t>(c) : c;
  int64_t q = (num + den / 2) / den;
  return static_cast<int32_t>(negative ? -q : q);
}

BaseUnits BaseUnitsFromMetrics(int32_t alphabetWidth, int32_t fontHeight) {
  return BaseUnits{(alphabetWidth / 26 + 1) / 2, fontHeight};
}

LayoutMargins ItemMargins(const DialogItemInfo& item, const LayoutRect& container, BaseUnits base) {
  int32_t left = item.x - container.left;
  int32_t top = item.y - container.top;
  int32_t right = container.right - item.cx - item.x;
  int32_t bottom = container.bottom - item.cy - item.y;
  return LayoutMargins{MulDivRound(left, base.x, 4), MulDivRound(top, base.y, 8), MulDivRound(right, base.x, 4),
                       MulDivRound(bottom, base.y, 8)};
}

LayoutRect AnchoredRect(const LayoutRect& current, const LayoutRect& container, const LayoutMargins& m,
                        uint32_t anchors) {
  LayoutRect r = current;
  int32_t width = current.right - current.left;
  int32_t height = current.bottom - current.top;
  if (anchors & kAnchorLeft) {
    r.left = container.left + m.left;
    if (!(anchors & kAnchorRight)) r.right = r.left + width;
  }
  if (anchors & kAnchorRight) {
    r.right = container.right - m.right;
    if (!(anchors & kAnchorLeft)) r.left = r.right - width;
  }
  if (anchors & kAnchorTop) {
    r.top = container.top + m.top;
    if (!(anchors & kAnchorBottom)) r.bottom = r.top + height;
  }
  if (anchors & kAnchorBottom) {
    r.bottom = container.bottom - m.bottom;
    if (!(anchors & kAnchorTop)) r.top = r.bottom - height;
  }
  return r;
}

uint32_t PackTopLeft(const LayoutRect& r) {
  return (static_cast<uint32_t>(r.top) << 16) | (static_cast<uint32_t>(r.left) & 0xFFFF);
}

uint32_t PackBottomRight(const LayoutRect& r) {
  return (static_cast<uint32_t>(r.bottom) << 16) | (static_cast<uint32_t>(r.right) & 0xFFFF);
}

LayoutRect UnpackRect(uint32_t topLeft, uint32_t bottomRight) {
  return LayoutRect{static_cast<int16_t>(topLeft & 0xFFFF), static_cast<int16_t>(topLeft >> 16),
                    static_cast<int16_t>(bottomRight & 0xFFFF), static_cast<int16_t>(bottomRight >> 16)};
}
