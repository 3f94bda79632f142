// Drives OrchardUI's windows from outside, as a user's mouse and keyboard
// would, and reports what they show. One action per run; results on stdout.
// Started as "OrchardMon.exe -start" it records how it was started instead.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
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

std::wstring WindowText(HWND window) {
  wchar_t text[1024] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 3000, nullptr);
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
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

BOOL CALLBACK ListWindow(HWND window, LPARAM) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::printf("0x%llx\t%lu\t%d\t%s\t", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)), pid,
              IsWindowVisible(window) ? 1 : 0, Utf8(ClassName(window)).c_str());
  PrintText(WindowText(window));
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

// Started in place of the watchdog: note the command line and the show state.
int RecordMonitorStart() {
  STARTUPINFOW startup{};
  GetStartupInfoW(&startup);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring marker = path;
  marker = marker.substr(0, marker.find_last_of(L'\\') + 1) + L"monitor_started.txt";
  FILE* f = _wfopen(marker.c_str(), L"ab");
  if (f != nullptr) {
    std::fprintf(f, "cmdline=%s\nflags=%lu\nshow=%u\n", Utf8(GetCommandLineW()).c_str(), startup.dwFlags,
                 startup.wShowWindow);
    std::fclose(f);
  }
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "ui_driver windows | children HWND | find TITLE [CLASS] | text HWND [ID] | set-text HWND ID TEXT |\n"
               "  command HWND ID [CODE] | post HWND MSG [W] [L] | show HWND CMD | state HWND | key HWND ID VK |\n"
               "  tab HWND ID | move HWND X Y W H | rects HWND ID | window-rect HWND | screenshot FILE\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && (wcscmp(argv[1], L"-start") == 0 || wcscmp(argv[1], L"-stop") == 0)) return RecordMonitorStart();
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
  return Usage();
}
