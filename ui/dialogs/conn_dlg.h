// CConnDlg: the login dialog. The user picks or types a server's address; the
// dialog connects the channel client to it, remembers a new site, and ends
// with IDOK once connected.
#pragma once
#include "platform/wtl/dialog.h"
#include "ui/res/resource.h"

// The port offered before any site is chosen: the server's control port.
constexpr const wchar_t* kDefaultControlPort = L"9090";

class CConnDlg : public wtl::CModalDialog {
 public:
  CConnDlg() : CModalDialog(IDD_CONNDLG) {}

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void OnSiteChanged();
  void OnOK();
  void SetStatus(unsigned stringId);
  void Message(unsigned stringId);

  HWND status_ = nullptr;
};
