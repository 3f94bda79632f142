// The arithmetic of the dialog layout engine: a control's distances to the
// dialog's edges, and where it goes when the dialog is resized. Platform-free.
#pragma once
#include <cstdint>

#include "ui/layout/codec/dialog_template.h"

enum LayoutAnchor : uint32_t {
  kAnchorLeft = 1,
  kAnchorTop = 2,
  kAnchorRight = 4,
  kAnchorBottom = 8,
  kAnchorAll = 15,
};

struct LayoutRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const LayoutRect&) const = default;
};

struct LayoutMargins {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const LayoutMargins&) const = default;
};

// a * b / c rounded half away from zero, as the system's MulDiv; -1 for c == 0.
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);

// Base units from the template font's measured text: the 52-letter alphabet's width and the font height.
struct BaseUnits {
  int32_t x = 0, y = 0;
};
BaseUnits BaseUnitsFromMetrics(int32_t alphabetWidth, int32_t fontHeight);

// Distances in pixels of `item` to the edges of `container` (both in dialog units).
LayoutMargins ItemMargins(const DialogItemInfo& item, const LayoutRect& container, BaseUnits base);

// The control's new rectangle in the resized container.
LayoutRect AnchoredRect(const LayoutRect& current, const LayoutRect& container, const LayoutMargins& margins,
                        uint32_t anchors);

// The two window properties that carry a pending rectangle during a batch.
uint32_t PackTopLeft(const LayoutRect& r);
uint32_t PackBottomRight(const LayoutRect& r);
LayoutRect UnpackRect(uint32_t topLeft, uint32_t bottomRight);
