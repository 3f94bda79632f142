// CDirDialog: the shell's folder picker, limited to file-system folders and
// opened at an initial folder.
#pragma once
#include <windows.h>
#include <shlobj.h>

#include <string>

class CDirDialog {
 public:
  CDirDialog();
  ~CDirDialog();
  CDirDialog(const CDirDialog&) = delete;
  CDirDialog& operator=(const CDirDialog&) = delete;

  void SetInitialFolder(const std::wstring& folder);
  void SetTitle(const std::wstring& title);
  // 1 when a file-system folder was chosen (its path is then Path()), else 0.
  int DoModal(HWND owner);
  const wchar_t* Path() const { return path_; }
  int ImageIndex() const { return image_; }

 private:
  static int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM l, LPARAM data);

  wchar_t initial_[MAX_PATH] = {};
  wchar_t title_[MAX_PATH] = {};
  wchar_t path_[MAX_PATH] = {};
  PIDLIST_ABSOLUTE chosen_ = nullptr;  // owned, freed with the task allocator
  int image_ = 0;
};
