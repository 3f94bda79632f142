// CSvrP2PSetDlg: page 4 of the settings container, "P2P设置". The P2P
// core's UDP port, log level and maximum upload speed, shown from the
// settings cache; a save checks what was typed, sends only what changed
// (commands 114, 115, 116), caches what the server took and says what it did
// not: a refused speed or level stays as typed, a refused port goes back to
// the cached one.
#pragma once
#include <windows.h>

#include "platform/wtl/dialog.h"
#include "ui/res/resource.h"

class CSvrP2PSetDlg : public wtl::CModelessDialog {
 public:
  CSvrP2PSetDlg() : CModelessDialog(IDD_SVRP2PSETDLG) {}

  void Save();
  // Back to the cached values.
  void Undo() { ShowCached(); }

 protected:
  BOOL OnInitDialog() override;

 private:
  void ShowCached();
};
