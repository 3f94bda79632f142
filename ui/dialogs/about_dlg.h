// CAboutDlg: the about box with the program's version.
#pragma once
#include "platform/wtl/dialog.h"
#include "ui/res/resource.h"

class CAboutDlg : public wtl::CModalDialog {
 public:
  CAboutDlg() : CModalDialog(IDD_ABOUTBOX) {}

 protected:
  BOOL OnInitDialog() override {
    Center(::GetParent(hwnd_));
    return TRUE;
  }
};
