// Clipboard, Notepad, recycle bin and disk figures.
#include "foundation/util/desktop_ops.h"

#include <shellapi.h>
#include <winioctl.h>

#include <cstring>

bool CopyTextToClipboard(HWND owner, const std::wstring& text) {
  if (!OpenClipboard(owner)) return false;
  EmptyClipboard();
  bool given = false;
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
  void* place = block != nullptr ? GlobalLock(block) : nullptr;
  if (place != nullptr) {
    memcpy(place, text.c_str(), bytes);
    GlobalUnlock(block);
    given = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
  }
  if (!given && block != nullptr) GlobalFree(block);  // the clipboard owns it only once taken
  CloseClipboard();
  return given;
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  const auto* units = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
  if (units != nullptr) {
    text.assign(units, wcsnlen(units, GlobalSize(data) / sizeof(wchar_t)));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

void CopyAddressListToNotepad(const std::wstring& text, const std::wstring& file) {
  CopyTextToClipboard(nullptr, text);
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  const std::wstring notepad = std::wstring(system, n < MAX_PATH ? n : 0) + L"\\notepad.exe";
  ShellExecuteW(nullptr, L"open", notepad.c_str(), file.c_str(), nullptr, SW_SHOWNORMAL);
  MessageBoxW(nullptr, L"地址列表已经复制到剪贴版，可以直接粘贴", L"提示", MB_OK);
}

namespace {

struct NotepadSearch {
  const wchar_t* titlePart;
  bool (*titleMatches)(const wchar_t*);
  HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<NotepadSearch*>(param);
  wchar_t cls[64], title[MAX_PATH + 1];
  if (GetClassNameW(window, cls, 64) == 0 || wcscmp(cls, L"Notepad") != 0) return TRUE;
  if (GetWindowTextW(window, title, MAX_PATH + 1) == 0) return TRUE;
  bool matches = search->titleMatches != nullptr ? search->titleMatches(title)
                                                 : wcsstr(title, search->titlePart) != nullptr;
  if (!matches) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

HWND FindNotepadWindow(const wchar_t* titlePart) {
  NotepadSearch search{titlePart, nullptr, nullptr};
  EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindNotepadWindow(bool (*titleMatches)(const wchar_t* title)) {
  NotepadSearch search{nullptr, titleMatches, nullptr};
  EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool MoveToRecycleBin(const std::vector<std::wstring>& paths) {
  std::wstring list;
  for (const std::wstring& p : paths) {
    list += p;
    list.push_back(L'\0');
  }
  list.push_back(L'\0');
  SHFILEOPSTRUCTW op{};
  op.wFunc = FO_DELETE;
  op.pFrom = list.c_str();
  op.fFlags = FOF_ALLOWUNDO | FOF_MULTIDESTFILES;
  op.lpszProgressTitle = L"文件删除";
  return SHFileOperationW(&op) == 0 && !op.fAnyOperationsAborted;
}

bool GetDiskGeometry(DISK_GEOMETRY* geometry) {
  HANDLE device = CreateFileW(L"\\\\.\\PhysicalDrive0", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) return false;
  DWORD got = 0;
  const bool ok = DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, geometry,
                                  sizeof *geometry, &got, nullptr) != 0;
  CloseHandle(device);
  return ok;
}

void GetDiskSpace(uint64_t* freeBytes, uint64_t* totalBytes) {
  *freeBytes = 0;
  *totalBytes = 0;
  wchar_t drives[512];
  const DWORD n = GetLogicalDriveStringsW(512, drives);
  if (n == 0 || n > 512) return;
  for (const wchar_t* d = drives; *d != L'\0'; d += wcslen(d) + 1) {
    if (GetDriveTypeW(d) != DRIVE_FIXED) continue;
    ULARGE_INTEGER freeToCaller, total, free;
    if (GetDiskFreeSpaceExW(d, &freeToCaller, &total, &free)) {
      *freeBytes += free.QuadPart;
      *totalBytes += total.QuadPart;
    }
  }
}
