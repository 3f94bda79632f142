// CSvrFTPSetDlg: page 3 of the settings container, "FTP设置". The FTP
// server's address (a domain name, or an IP address and port) and its
// account, shown from the settings cache; a save checks what was typed,
// sends only what changed (commands 68 and 66), keeps the cache in step with
// what the server took and says what it did not.
#pragma once
#include <windows.h>

#include "platform/wtl/dialog.h"
#include "ui/res/resource.h"

class CSvrFTPSetDlg : public wtl::CModelessDialog {
 public:
  CSvrFTPSetDlg() : CModelessDialog(IDD_SVRFTPSETDLG) {}

  void Save();
  // The account back to the cached one, closed; the other fields stay.
  void Undo();

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void ShowCached();
  void UseDomain(bool byDomain);
  void EnableAccount(bool enable);
  void OnPortTyped();
  std::wstring AddressText() const;
  void SetAddress(const std::wstring& host);
};
