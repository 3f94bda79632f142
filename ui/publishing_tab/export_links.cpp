// The export request and the Notepad window that shows its links.
#include "ui/publishing_tab/export_links.h"

#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>

#include "foundation/util/desktop_ops.h"
#include "foundation/util/path_ops.h"
#include "ui/app/codec/export_title.h"
#include "ui/app/res_string.h"
#include "ui/client/control_client.h"
#include "ui/client_settings/ui_config.h"

namespace {

bool ExportTitle(const wchar_t* title) {
  return IsExportWindowTitle(std::u16string_view(reinterpret_cast<const char16_t*>(title), wcslen(title)));
}

struct EditSearch {
  HWND found = nullptr;
};

BOOL CALLBACK FirstEditChild(HWND window, LPARAM param) {
  wchar_t cls[64] = {};
  GetClassNameW(window, cls, 64);
  if (wcsstr(cls, L"Edit") == nullptr) return TRUE;
  reinterpret_cast<EditSearch*>(param)->found = window;
  return FALSE;
}

// The user's templates folder, created when missing, else the program's folder.
std::wstring ExportFolder() {
  wchar_t folder[MAX_PATH] = {};
  if (SHGetSpecialFolderPathW(nullptr, folder, CSIDL_TEMPLATES, TRUE)) return folder;
  return GetModuleDir(nullptr);
}

bool WriteExportFile(const std::wstring& path, const std::wstring& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  // UTF-16 units after a byte-order mark, without a terminating zero. Without
  // the mark Notepad guesses the encoding, and a wrong guess shows the links garbled.
  const wchar_t mark = 0xFEFF;
  bool ok = WriteFile(file, &mark, sizeof mark, &written, nullptr) != FALSE &&
            WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr) != FALSE;
  CloseHandle(file);
  return ok;
}

void SayCopied(HWND owner) {
  MessageBoxW(owner, LoadResString(IDS_LINKS_COPIED).c_str(), LoadResString(IDS_APP_NAME).c_str(), MB_OK);
}

// The look for the window of a Notepad just started runs on a timer of this
// thread, so that the user interface goes on meanwhile; one at a time.
UINT_PTR g_notepadTimer = 0;
DWORD g_notepadSince = 0;

void StopNotepadWait() {
  if (g_notepadTimer != 0) KillTimer(nullptr, g_notepadTimer);
  g_notepadTimer = 0;
}

void CALLBACK NotepadWaitTick(HWND, UINT, UINT_PTR, DWORD) {
  HWND window = FindExportWindow();
  if (window == nullptr && GetTickCount() - g_notepadSince < kNotepadWaitMs) return;
  StopNotepadWait();  // before the box, whose loop would tick again
  SayCopied(window);
}

void WaitForNotepadThenSayCopied() {
  StopNotepadWait();
  g_notepadSince = GetTickCount();
  g_notepadTimer = SetTimer(nullptr, 0, kNotepadPollMs, NotepadWaitTick);
  if (g_notepadTimer == 0) SayCopied(nullptr);
}

}  // namespace

HWND FindExportWindow() { return FindNotepadWindow(ExportTitle); }

bool RunExportDialog(HWND parent, ExportChoice& choice) {
  COutputSettingDlg dialog;
  if (dialog.DoModal(parent) != 1) return false;
  choice = dialog.Choice();
  return true;
}

std::wstring RequestExportLinks(const std::wstring& path, const ExportChoice& choice) {
  const UiConfig& config = Config();
  std::wstring text;
  ExportUrl(text, path, config.urlFmt == 1 ? 1 : 0, config.nameFmt == 1 ? 1 : 0, config.sort == 1 ? 1 : 0,
            choice.timeRange != 0 ? choice.rangeStart : 0, choice.timeRange != 0 ? choice.rangeEnd : 0,
            choice.keywordFlag != 0 ? choice.keyword : std::wstring());
  return text;
}

void ShowLinksInNotepad(const std::wstring& text, bool copy) {
  if (text.empty()) return;
  HWND window = FindExportWindow();
  if (window != nullptr) {
    EditSearch edit;
    EnumChildWindows(window, FirstEditChild, reinterpret_cast<LPARAM>(&edit));
    if (edit.found != nullptr) SendMessageW(edit.found, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
  } else {
    std::wstring folder = ExportFolder();
    std::wstring file = folder + (folder.empty() || folder.back() != L'\\' ? L"\\" : L"") +
                        reinterpret_cast<const wchar_t*>(kExportFileName);
    if (!WriteExportFile(file, text)) return;
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    std::wstring notepad = std::wstring(windows) + L"\\notepad.exe";
    std::wstring parameter = L"\"" + file + L"\"";  // the name holds a blank
    auto started = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", notepad.c_str(), parameter.c_str(), nullptr, SW_SHOWNORMAL));
    if (started <= 32) return;
  }
  if (!copy) return;
  CopyTextToClipboard(nullptr, text);
  if (window != nullptr) {
    StopNotepadWait();  // an earlier copy's message is this one's
    SayCopied(window);
    return;
  }
  // Notepad may take a while to show its window, or may never: the message
  // waits for it, for a bounded time, without holding the user interface.
  WaitForNotepadThenSayCopied();
}
