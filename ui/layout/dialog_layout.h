// CDialogLayout: keeps registered controls at their distances to the edges of
// a resizable dialog. A dialog holds one, starts it on WM_INITDIALOG, registers
// its controls with their anchors, and lays them out on every WM_SIZE.
#pragma once
#include <windows.h>

#include <vector>

#include "ui/layout/codec/dialog_template.h"
#include "ui/layout/codec/layout_math.h"

// The three window-property atoms; added at program start, deleted at its end.
void DialogLayoutStartup();
void DialogLayoutShutdown();

class CDialogLayout {
 public:
  // Finds the dialog's template in the program's own module.
  explicit CDialogLayout(int templateId);

  // The root container from the template; call on WM_INITDIALOG before registering controls.
  void Start(HWND dialog);
  // Registers a control of the template with its anchors (LayoutAnchor bits).
  void Add(int controlId, uint32_t anchors);
  // Moves every registered control in one deferred batch; `invalidate` repaints the dialog.
  void OnSize(int width, int height, bool invalidate = true);

  BaseUnits Units() const { return base_; }
  bool MarginsOf(int controlId, LayoutMargins& out) const;

 private:
  struct Control {
    int id;
    uint32_t anchors;
    LayoutMargins margins;
  };

  BaseUnits ComputeBaseUnits() const;
  LayoutRect CurrentRect(HWND control, HDWP batch) const;

  HWND dialog_ = nullptr;
  bool haveTemplate_ = false;
  DialogTemplateInfo template_;
  std::vector<DialogItemInfo> items_;
  BaseUnits base_;
  LayoutRect root_;
  std::vector<Control> controls_;
};
