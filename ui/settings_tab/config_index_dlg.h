// CConfigIndexDlg: the narrow selector pane on the left of the settings
// container, four buttons that choose the page shown, inside a thin frame.
#pragma once
#include <windows.h>

#include "platform/wtl/dialog.h"
#include "ui/layout/dialog_layout.h"
#include "ui/res/resource.h"

class CConfigDlg;

class CConfigIndexDlg : public wtl::CModelessDialog {
 public:
  explicit CConfigIndexDlg(CConfigDlg* owner)
      : CModelessDialog(IDD_CONFIGINDEXDLG), layout_(IDD_CONFIGINDEXDLG), owner_(owner) {}

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnSize(UINT type, int width, int height) override;
  bool OnMessage(UINT message, WPARAM w, LPARAM l, LRESULT& result) override;

 private:
  void PaintFrame();

  CDialogLayout layout_;
  CConfigDlg* owner_;
};
