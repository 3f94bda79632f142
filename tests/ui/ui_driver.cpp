// Drives OrchardUI's windows from outside, as a user's mouse and keyboard
// would, and reports what they show. One action per run; results on stdout.
// List and tree items live in OrchardUI's memory: their records are placed
// there with VirtualAllocEx and read back with ReadProcessMemory. With
// "--desktop NAME" first, the driver works in that (virtual) desktop.
// Started as "OrchardMon.exe -start" it records how it was started instead,
// and "inherit-launch" runs a program that should hand a handle down to it.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

HWND ParseHwnd(const wchar_t* text) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoull(text, nullptr, 0))); }

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// Writes the text as one line of UTF-8, with line breaks shown as \n.
void PrintText(const std::wstring& text) {
  std::string line;
  for (char c : Utf8(text)) {
    if (c == '\r') continue;
    if (c == '\n') {
      line += "\\n";
    } else {
      line += c;
    }
  }
  std::printf("%s\n", line.c_str());
}

std::wstring WindowText(HWND window) {
  DWORD_PTR length = 0;
  SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length);
  std::vector<wchar_t> text(length + 1024, L'\0');
  SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 3000,
                      nullptr);
  return text.data();
}

// A block of memory in the process that owns a window, freed at the end.
class Remote {
 public:
  Remote(HWND window, size_t size) : size_(size) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process_ != nullptr) base_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  }
  ~Remote() {
    if (base_ != nullptr) VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    if (process_ != nullptr) CloseHandle(process_);
  }
  bool Ok() const { return base_ != nullptr; }
  uint8_t* At(size_t offset) const { return static_cast<uint8_t*>(base_) + offset; }
  bool Write(size_t offset, const void* data, size_t n) const {
    return offset + n <= size_ && WriteProcessMemory(process_, At(offset), data, n, nullptr) != FALSE;
  }
  bool Read(size_t offset, void* data, size_t n) const {
    return offset + n <= size_ && ReadProcessMemory(process_, At(offset), data, n, nullptr) != FALSE;
  }

 private:
  HANDLE process_ = nullptr;
  void* base_ = nullptr;
  size_t size_;
};

constexpr size_t kTextUnits = 1024;

std::wstring RemoteCellText(HWND list, const Remote& remote, int row, int column) {
  LVITEMW item{};
  item.iSubItem = column;
  item.cchTextMax = kTextUnits;
  item.pszText = reinterpret_cast<wchar_t*>(remote.At(sizeof item));
  remote.Write(0, &item, sizeof item);
  LRESULT n = SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
  std::vector<wchar_t> text(kTextUnits + 1, L'\0');
  if (n > 0) remote.Read(sizeof item, text.data(), static_cast<size_t>(n) * sizeof(wchar_t));
  return text.data();
}

// Header, then one line per row: cells separated by tabs.
int ListRows(HWND list) {
  Remote remote(list, sizeof(LVITEMW) + sizeof(LVCOLUMNW) + 2 * (kTextUnits + 1));
  if (!remote.Ok()) return 1;
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  int columns = header != nullptr ? static_cast<int>(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)) : 0;
  std::wstring line;
  for (int c = 0; c < columns; ++c) {
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.cchTextMax = kTextUnits;
    column.pszText = reinterpret_cast<wchar_t*>(remote.At(sizeof column));
    remote.Write(0, &column, sizeof column);
    SendMessageW(list, LVM_GETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(remote.At(0)));
    std::vector<wchar_t> text(kTextUnits + 1, L'\0');
    remote.Read(0, &column, sizeof column);
    remote.Read(sizeof column, text.data(), kTextUnits * sizeof(wchar_t));
    line += (c ? L"\t" : L"") + std::wstring(text.data()) + L"/" + std::to_wstring(column.cx);
  }
  PrintText(line);
  int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int r = 0; r < rows; ++r) {
    line.clear();
    for (int c = 0; c < columns; ++c) line += (c ? L"\t" : L"") + RemoteCellText(list, remote, r, c);
    UINT state = static_cast<UINT>(SendMessageW(list, LVM_GETITEMSTATE, static_cast<WPARAM>(r), LVIS_SELECTED));
    PrintText(line + ((state & LVIS_SELECTED) != 0 ? L"\t*" : L""));
  }
  return 0;
}

// Selects exactly the rows given (none for an empty list).
int ListSelect(HWND list, const std::vector<int>& rows) {
  Remote remote(list, sizeof(LVITEMW));
  if (!remote.Ok()) return 1;
  auto setState = [&](int row, UINT state) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = state;
    remote.Write(0, &item, sizeof item);
    SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote.At(0)));
  };
  setState(-1, 0);
  for (int row : rows) setState(row, LVIS_SELECTED | LVIS_FOCUSED);
  return 0;
}

// A rectangle that a message fills in the list's process, e.g. LVM_GETITEMRECT.
bool RemoteRect(HWND window, UINT message, WPARAM w, RECT start, RECT* out) {
  Remote remote(window, sizeof(RECT));
  if (!remote.Ok() || !remote.Write(0, &start, sizeof start)) return false;
  if (!SendMessageW(window, message, w, reinterpret_cast<LPARAM>(remote.At(0)))) return false;
  return remote.Read(0, out, sizeof *out);
}

// A click on a column's header, as the mouse gives it: the header tells the
// list, the list tells its dialog (LVN_COLUMNCLICK). Sent, so the time of the
// dialog's handling is in the time this takes. WM_NOTIFY itself does not
// cross processes.
int ColumnClick(HWND list, int column) {
  HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
  RECT r{};
  if (header == nullptr || !RemoteRect(header, HDM_GETITEMRECT, static_cast<WPARAM>(column), r, &r)) return 1;
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  SendMessageW(header, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageW(header, WM_LBUTTONUP, 0, at);
  QueryPerformanceCounter(&end);
  std::printf("%.1f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
  return 0;
}

// A click (or double click) on a row's first cell, as the mouse gives it.
int RowClick(HWND list, int row, bool twice) {
  RECT r{};
  r.left = LVIR_LABEL;
  if (!RemoteRect(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), r, &r)) return 1;
  LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
  PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  PostMessageW(list, WM_LBUTTONUP, 0, at);
  if (twice) {
    PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
  }
  return 0;
}

std::wstring RemoteTreeText(HWND tree, const Remote& remote, HTREEITEM item) {
  TVITEMW tv{};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.cchTextMax = kTextUnits;
  tv.pszText = reinterpret_cast<wchar_t*>(remote.At(sizeof tv));
  remote.Write(0, &tv, sizeof tv);
  SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.At(0)));
  std::vector<wchar_t> text(kTextUnits + 1, L'\0');
  remote.Read(sizeof tv, text.data(), kTextUnits * sizeof(wchar_t));
  return text.data();
}

void TreeWalk(HWND tree, const Remote& remote, HTREEITEM item, int level, HTREEITEM selected) {
  for (; item != nullptr; item = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                                           reinterpret_cast<LPARAM>(item)))) {
    std::printf("0x%llx\t%d\t", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(item)), level);
    PrintText(RemoteTreeText(tree, remote, item) + (item == selected ? L"\t*" : L""));
    TreeWalk(tree, remote, reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD,
                                                                    reinterpret_cast<LPARAM>(item))),
             level + 1, selected);
  }
}

// Every item: handle, level and text, the selected one marked.
int TreeItems(HWND tree) {
  Remote remote(tree, sizeof(TVITEMW) + 2 * (kTextUnits + 1));
  if (!remote.Ok()) return 1;
  auto selected = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
  TreeWalk(tree, remote, reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), 0, selected);
  return 0;
}

// The screen point at the middle of an item's label.
int TreeLabel(HWND tree, HTREEITEM item) {
  Remote remote(tree, sizeof(RECT));
  if (!remote.Ok()) return 1;
  RECT r{};
  std::memcpy(&r, &item, sizeof item);
  remote.Write(0, &r, sizeof r);
  if (!SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(remote.At(0)))) return 1;
  remote.Read(0, &r, sizeof r);
  POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  ClientToScreen(tree, &p);
  std::printf("%ld %ld\n", p.x, p.y);
  return 0;
}

struct ItemSearch {
  int id;
  HWND found;
  bool shownOnly;  // only a control the user can see (it and its parents visible)
};

BOOL CALLBACK FindItem(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<ItemSearch*>(param);
  if (GetDlgCtrlID(window) != search->id || (search->shownOnly && !IsWindowVisible(window))) return TRUE;
  search->found = window;
  return FALSE;
}

std::wstring ClipboardText() {
  std::wstring text;
  if (!OpenClipboard(nullptr)) return text;
  HANDLE data = GetClipboardData(CF_UNICODETEXT);
  if (data != nullptr) {
    auto* p = static_cast<const wchar_t*>(GlobalLock(data));
    if (p != nullptr) text = p;
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// A top-level window's title as the window manager keeps it: no message is
// sent, so a window whose thread is suspended or hung (another test's crashing
// program, say) cannot hold the listing up.
std::wstring TitleText(HWND window) {
  wchar_t text[1024] = {};
  InternalGetWindowText(window, text, 1024);
  return text;
}

BOOL CALLBACK ListWindow(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::printf("0x%llx\t%lu\t%d\t%s\t", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)), pid,
              IsWindowVisible(window) ? 1 : 0, Utf8(ClassName(window)).c_str());
  PrintText(TitleText(window));
  return TRUE;
}

BOOL CALLBACK ListChild(HWND window, LPARAM) {
  std::printf("0x%llx\t%d\t%d\t%s\t", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
              GetDlgCtrlID(window), IsWindowVisible(window) ? 1 : 0, Utf8(ClassName(window)).c_str());
  PrintText(WindowText(window));
  return TRUE;
}

// The desktop as a 24-bit BMP file.
bool Screenshot(const wchar_t* path) {
  HDC screen = GetDC(nullptr);
  int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  GdiFlush();
  DWORD stride = ((w * 3) + 3) & ~3u;
  DWORD size = stride * h;
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;
  file.bfOffBits = sizeof file + sizeof info.bmiHeader;
  file.bfSize = file.bfOffBits + size;
  bool ok = false;
  HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out != INVALID_HANDLE_VALUE) {
    DWORD n = 0;
    ok = WriteFile(out, &file, sizeof file, &n, nullptr) && WriteFile(out, &info.bmiHeader, sizeof info.bmiHeader, &n, nullptr) &&
         WriteFile(out, bits, size, &n, nullptr);
    CloseHandle(out);
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

// The mark of the handle that "inherit-launch" hands down, and the variable that names it.
const char kInheritMark[] = "orchard inherited handle";
const wchar_t kInheritVariable[] = L"ORCHARD_INHERIT_PROBE";

// 1 when the variable names a file mapping that holds the mark: the handle
// came down through every program in between; 0 when it did not; -1 when
// nobody handed one down.
int InheritedMark() {
  wchar_t value[32] = {};
  if (GetEnvironmentVariableW(kInheritVariable, value, 32) == 0) return -1;
  auto mapping = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(wcstoull(value, nullptr, 0)));
  void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, sizeof kInheritMark);
  if (view == nullptr) return 0;
  const bool same = std::memcmp(view, kInheritMark, sizeof kInheritMark) == 0;
  UnmapViewOfFile(view);
  return same ? 1 : 0;
}

// Runs a program of the driver's folder so that it inherits a marked handle
// (a file mapping) named by a variable; the program's exit code.
int InheritLaunch(int argc, wchar_t** argv) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, &inherit, PAGE_READWRITE, 0, 4096, nullptr);
  void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, sizeof kInheritMark) : nullptr;
  if (view == nullptr) return 1;
  std::memcpy(view, kInheritMark, sizeof kInheritMark);
  UnmapViewOfFile(view);
  wchar_t value[32] = {};
  swprintf(value, 32, L"0x%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(mapping)));
  SetEnvironmentVariableW(kInheritVariable, value);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring program = path;
  program = program.substr(0, program.find_last_of(L'\\') + 1) + argv[2];
  std::wstring commandLine = L"\"" + program + L"\"";
  for (int i = 3; i < argc; ++i) commandLine += std::wstring(L" ") + argv[i];
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return 1;
  }
  std::printf("pid=%lu\n", process.dwProcessId);
  std::fflush(stdout);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}

// Started in place of the watchdog: note the command line, the show state
// and whether a marked handle came down to it.
int RecordMonitorStart() {
  STARTUPINFOW startup{};
  GetStartupInfoW(&startup);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring marker = path;
  marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + L"monitor_started.txt";
  FILE* f = _wfopen(marker.c_str(), L"ab");
  if (f != nullptr) {
    std::fprintf(f, "cmdline=%s\nflags=%lu\nshow=%u\ninherited=%d\n", Utf8(GetCommandLineW()).c_str(),
                 startup.dwFlags, startup.wShowWindow, InheritedMark());
    std::fclose(f);
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "ui_driver windows | children HWND | find TITLE [CLASS] | text HWND [ID] | set-text HWND ID TEXT |\n"
               "  command HWND ID [CODE] | post HWND MSG [W] [L] | show HWND CMD | state HWND | key HWND ID VK |\n"
               "  tab HWND ID | move HWND X Y W H | rects HWND ID | window-rect HWND | screenshot FILE |\n"
               "  find-item HWND ID | find-shown HWND ID | click HWND ID | send-command HWND ID | list-rows HWND | list-select HWND [ROW...] |\n"
               "  column-click HWND COLUMN | row-click HWND ROW [double] | tree-items HWND | tree-select HWND ITEM | tree-label HWND ITEM |\n"
               "  date HWND ID Y M D | drag HWND X Y X2 Y2 | clipboard | inherit-launch PROGRAM [ARG...]\n"
               "  (each may follow --desktop NAME)\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && (wcscmp(argv[1], L"-start") == 0 || wcscmp(argv[1], L"-stop") == 0)) return RecordMonitorStart();
  if (argc >= 3 && wcscmp(argv[1], L"--desktop") == 0) {
    HDESK desktop = OpenDesktopW(argv[2], 0, FALSE, GENERIC_ALL);
    if (desktop == nullptr || !SetThreadDesktop(desktop)) {
      std::fprintf(stderr, "cannot use desktop\n");
      return 3;
    }
    argv += 2;
    argc -= 2;
  }
  if (argc < 2) return Usage();
  std::wstring action = argv[1];
  auto item = [&](int index) { return GetDlgItem(ParseHwnd(argv[2]), _wtoi(argv[index])); };

  if (action == L"windows") {
    EnumWindows(ListWindow, 0);
    return 0;
  }
  if (action == L"children" && argc >= 3) {
    EnumChildWindows(ParseHwnd(argv[2]), ListChild, 0);
    return 0;
  }
  if (action == L"find" && argc >= 3) {
    HWND found = FindWindowW(argc >= 4 ? argv[3] : nullptr, argv[2]);
    if (found == nullptr) return 1;
    std::printf("0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(found)));
    return 0;
  }
  if (action == L"text" && argc >= 3) {
    PrintText(WindowText(argc >= 4 ? item(3) : ParseHwnd(argv[2])));
    return 0;
  }
  if (action == L"set-text" && argc >= 5) {
    return SendMessageW(item(3), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4])) ? 0 : 1;
  }
  if (action == L"command" && argc >= 4) {
    // As a button click: the dialog gets WM_COMMAND from the control.
    int id = _wtoi(argv[3]);
    int code = argc >= 5 ? _wtoi(argv[4]) : 0;
    return PostMessageW(ParseHwnd(argv[2]), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(item(3))) ? 0 : 1;
  }
  if (action == L"post" && argc >= 4) {
    WPARAM w = argc >= 5 ? static_cast<WPARAM>(wcstoull(argv[4], nullptr, 0)) : 0;
    LPARAM l = argc >= 6 ? static_cast<LPARAM>(wcstoll(argv[5], nullptr, 0)) : 0;
    return PostMessageW(ParseHwnd(argv[2]), static_cast<UINT>(wcstoul(argv[3], nullptr, 0)), w, l) ? 0 : 1;
  }
  if (action == L"show" && argc >= 4) {
    ShowWindow(ParseHwnd(argv[2]), _wtoi(argv[3]));
    return 0;
  }
  if (action == L"state" && argc >= 3) {
    HWND w = ParseHwnd(argv[2]);
    std::printf("exists=%d visible=%d iconic=%d\n", IsWindow(w) ? 1 : 0, IsWindowVisible(w) ? 1 : 0,
                IsIconic(w) ? 1 : 0);
    return 0;
  }
  if (action == L"key" && argc >= 5) {
    HWND target = item(3);
    UINT vk = static_cast<UINT>(wcstoul(argv[4], nullptr, 0));
    PostMessageW(target, WM_KEYDOWN, vk, 1);
    PostMessageW(target, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    return 0;
  }
  if (action == L"tab" && argc >= 4) {
    HWND tab = item(3);
    std::printf("count=%d current=%d\n", static_cast<int>(SendMessageW(tab, TCM_GETITEMCOUNT, 0, 0)),
                static_cast<int>(SendMessageW(tab, TCM_GETCURSEL, 0, 0)));
    return 0;
  }
  if (action == L"move" && argc >= 7) {
    return MoveWindow(ParseHwnd(argv[2]), _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]), TRUE) ? 0 : 1;
  }
  if (action == L"rects" && argc >= 4) {
    // The dialog's client size and the control's rectangle in client coordinates.
    HWND dialog = ParseHwnd(argv[2]);
    RECT client{}, control{};
    GetClientRect(dialog, &client);
    HWND child = item(3);
    if (child == nullptr) return 1;
    GetWindowRect(child, &control);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&control), 2);
    std::printf("client=%ld,%ld control=%ld,%ld,%ld,%ld\n", client.right, client.bottom, control.left, control.top,
                control.right, control.bottom);
    return 0;
  }
  if (action == L"window-rect" && argc >= 3) {
    RECT r{};
    if (!GetWindowRect(ParseHwnd(argv[2]), &r)) return 1;
    std::printf("%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
  }
  if (action == L"screenshot" && argc >= 3) return Screenshot(argv[2]) ? 0 : 1;
  if ((action == L"find-item" || action == L"find-shown") && argc >= 4) {
    // The first descendant with the control id (that the user can see, for
    // "find-shown"), and its parent (the dialog it belongs to).
    ItemSearch search{_wtoi(argv[3]), nullptr, action == L"find-shown"};
    EnumChildWindows(ParseHwnd(argv[2]), FindItem, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) return 1;
    std::printf("0x%llx 0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(search.found)),
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(GetParent(search.found))));
    return 0;
  }
  if (action == L"click" && argc >= 4) {
    // A click on a button: it checks a radio button or check box and tells its dialog.
    return PostMessageW(item(3), BM_CLICK, 0, 0) ? 0 : 1;
  }
  if (action == L"send-command" && argc >= 4) {
    // As "command", but waits for the handler to finish and reports how long it took.
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    DWORD_PTR result = 0;
    LRESULT ok = SendMessageTimeoutW(ParseHwnd(argv[2]), WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), 0),
                                     reinterpret_cast<LPARAM>(item(3)), SMTO_NORMAL, 60000, &result);
    QueryPerformanceCounter(&end);
    std::printf("%.1f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    return ok != 0 ? 0 : 1;
  }
  if (action == L"list-rows" && argc >= 3) return ListRows(ParseHwnd(argv[2]));
  if (action == L"list-select" && argc >= 3) {
    std::vector<int> rows;
    for (int i = 3; i < argc; ++i) rows.push_back(_wtoi(argv[i]));
    return ListSelect(ParseHwnd(argv[2]), rows);
  }
  if (action == L"column-click" && argc >= 4) return ColumnClick(ParseHwnd(argv[2]), _wtoi(argv[3]));
  if (action == L"row-click" && argc >= 4) {
    return RowClick(ParseHwnd(argv[2]), _wtoi(argv[3]), argc >= 5 && wcscmp(argv[4], L"double") == 0);
  }
  if (action == L"tree-items" && argc >= 3) return TreeItems(ParseHwnd(argv[2]));
  if (action == L"tree-select" && argc >= 4) {
    return SendMessageW(ParseHwnd(argv[2]), TVM_SELECTITEM, TVGN_CARET, static_cast<LPARAM>(wcstoull(argv[3], nullptr, 0)))
               ? 0
               : 1;
  }
  if (action == L"tree-label" && argc >= 4) {
    return TreeLabel(ParseHwnd(argv[2]), reinterpret_cast<HTREEITEM>(static_cast<uintptr_t>(wcstoull(argv[3], nullptr, 0))));
  }
  if (action == L"date" && argc >= 7) {
    HWND picker = item(3);
    Remote remote(picker, sizeof(SYSTEMTIME));
    SYSTEMTIME st{static_cast<WORD>(_wtoi(argv[4])), static_cast<WORD>(_wtoi(argv[5])), 0,
                  static_cast<WORD>(_wtoi(argv[6])), 12, 0, 0, 0};
    if (!remote.Ok() || !remote.Write(0, &st, sizeof st)) return 1;
    return SendMessageW(picker, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(remote.At(0))) ? 0 : 1;
  }
  if (action == L"drag" && argc >= 7) {
    // A drag with the left button, in the window's client coordinates.
    HWND w = ParseHwnd(argv[2]);
    int x = _wtoi(argv[3]), y = _wtoi(argv[4]), x2 = _wtoi(argv[5]), y2 = _wtoi(argv[6]);
    SendMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM((x + x2) / 2, (y + y2) / 2));
    SendMessageW(w, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x2, y2));
    SendMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(x2, y2));
    return 0;
  }
  if (action == L"inherit-launch" && argc >= 3) return InheritLaunch(argc, argv);
  if (action == L"clipboard") {
    PrintText(ClipboardText());
    return 0;
  }
  return Usage();
}
