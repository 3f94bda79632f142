// CAddPublishDirDlg: asks for a directory to publish and whether to publish
// all its files now or only the directory. OK stays disabled until the path
// names an existing directory.
#pragma once
#include <string>

#include "platform/wtl/dialog.h"
#include "ui/res/resource.h"

class CAddPublishDirDlg : public wtl::CModalDialog {
 public:
  CAddPublishDirDlg() : CModalDialog(IDD_ADDPUBDIRDLG) {}

  void SetInitialFolder(const std::wstring& folder) { initial_ = folder; }
  const std::wstring& Path() const { return path_; }
  int PublishAll() const { return publishAll_; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;

 private:
  void OnPathChanged();
  void Browse();

  std::wstring path_;
  std::wstring initial_;
  int publishAll_ = 1;
};
