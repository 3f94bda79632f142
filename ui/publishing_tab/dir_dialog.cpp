// SHBrowseForFolderW from the desktop, with the initial folder selected once
// the picker is up.
#include "ui/publishing_tab/dir_dialog.h"

#include <cwchar>

CDirDialog::CDirDialog() { wcscpy(title_, L"\u9009\u62e9"); }  // "选择"

CDirDialog::~CDirDialog() {
  if (chosen_ != nullptr) CoTaskMemFree(chosen_);
}

void CDirDialog::SetInitialFolder(const std::wstring& folder) { wcsncpy(initial_, folder.c_str(), MAX_PATH - 1); }
void CDirDialog::SetTitle(const std::wstring& title) { wcsncpy(title_, title.c_str(), MAX_PATH - 1); }

int CALLBACK CDirDialog::BrowseCallback(HWND window, UINT message, LPARAM /*l*/, LPARAM data) {
  auto* self = reinterpret_cast<CDirDialog*>(data);
  if (message == BFFM_INITIALIZED && self->initial_[0] != L'\0') {
    SendMessageW(window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(self->initial_));
  }
  return 0;
}

int CDirDialog::DoModal(HWND owner) {
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || allocator == nullptr) return 0;
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop)) || desktop == nullptr) {
    allocator->Release();
    return 0;
  }
  PIDLIST_ABSOLUTE root = nullptr;
  wchar_t empty[1] = {L'\0'};
  desktop->ParseDisplayName(owner, nullptr, empty, nullptr, reinterpret_cast<PIDLIST_RELATIVE*>(&root), nullptr);

  wchar_t display[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.pidlRoot = root;
  info.pszDisplayName = display;
  info.lpszTitle = title_;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
  info.lpfn = BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(this);
  PIDLIST_ABSOLUTE result = SHBrowseForFolderW(&info);

  int chosen = 0;
  if (result != nullptr) {
    image_ = info.iImage;
    if (SHGetPathFromIDListW(result, path_)) {
      if (chosen_ != nullptr) CoTaskMemFree(chosen_);
      chosen_ = ILClone(result);
      chosen = 1;
    }
    allocator->Free(result);
  }
  if (root != nullptr) allocator->Free(root);
  desktop->Release();
  allocator->Release();
  return chosen;
}
