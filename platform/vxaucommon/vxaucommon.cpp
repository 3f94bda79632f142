// Stand-in for the automatic-update library. Answers come from
// "vxaucommon.ini" beside the DLL, section [answers]:
//   init      result of InitAutoUpdate (default 0)
//   interval  seconds for GetNextPreferedCheckInterval (default 3600)
//   pending   HasPendingUpdate (default 0)
//   available StartAutoUpdate posts "update available" when 1
//   complete  StartAutoUpdate posts "update complete" when 1
// When that file exists, every call is also recorded, one line each, in
// "vxaucommon.log" beside it.
#define VXAUCOMMON_BUILD
#include "platform/vxaucommon/vxaucommon.h"

#include <string>

namespace {

struct Answers {
  int init = 0;
  int interval = 3600;
  int pending = 0;
  int available = 0;
  int complete = 0;
};

HWND g_window = nullptr;
Answers g_answers;
bool g_record = false;
std::wstring g_dir;
UINT g_messages[3] = {};

std::wstring OwnDir() {
  HMODULE self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnDir), &self);
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(self, path, MAX_PATH);
  std::wstring p(path);
  size_t slash = p.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : p.substr(0, slash);
}

void Record(const std::string& line) {
  if (!g_record) return;
  std::wstring path = g_dir + L"\\vxaucommon.log";
  HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  std::string text = line + "\r\n";
  DWORD written = 0;
  WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(h);
}

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; text && *text; ++text) out.push_back(*text < 128 ? static_cast<char>(*text) : '?');
  return out;
}

void Post(int index) {
  if (g_window) PostMessageW(g_window, g_messages[index], 0, 0);
}

}  // namespace

namespace AU {

int InitAutoUpdate(HWND window, const wchar_t* productId, const wchar_t* version, const wchar_t* extra) {
  g_dir = OwnDir();
  std::wstring ini = g_dir + L"\\vxaucommon.ini";
  g_record = GetFileAttributesW(ini.c_str()) != INVALID_FILE_ATTRIBUTES;
  g_answers.init = static_cast<int>(GetPrivateProfileIntW(L"answers", L"init", 0, ini.c_str()));
  g_answers.interval = static_cast<int>(GetPrivateProfileIntW(L"answers", L"interval", 3600, ini.c_str()));
  g_answers.pending = static_cast<int>(GetPrivateProfileIntW(L"answers", L"pending", 0, ini.c_str()));
  g_answers.available = static_cast<int>(GetPrivateProfileIntW(L"answers", L"available", 0, ini.c_str()));
  g_answers.complete = static_cast<int>(GetPrivateProfileIntW(L"answers", L"complete", 0, ini.c_str()));
  Record("InitAutoUpdate " + Narrow(productId) + " " + Narrow(version) + " [" + Narrow(extra) + "]");
  if (g_answers.init < 0) return g_answers.init;
  g_window = window;
  g_messages[0] = RegisterWindowMessageW(L"VXAU_UpdateAvailable");
  g_messages[1] = RegisterWindowMessageW(L"VXAU_UpdateComplete");
  g_messages[2] = RegisterWindowMessageW(L"VXAU_ProductQuit");
  return g_answers.init;
}

void UnInitAutoUpdate() {
  Record("UnInitAutoUpdate");
  g_window = nullptr;
}

int StartAutoUpdate(int flags) {
  Record("StartAutoUpdate " + std::to_string(flags));
  if (g_answers.available) Post(0);
  if (g_answers.complete) Post(1);
  return 0;
}

UINT GetAutoUpdateMessageID(int index) { return index >= 0 && index < 3 ? g_messages[index] : 0; }

int GetNextPreferedCheckInterval() { return g_answers.interval; }

int HasPendingUpdate() { return g_answers.pending; }

int InstallUpdate() {
  Record("InstallUpdate");
  return 0;
}

int InstallPendingUpdate() {
  Record("InstallPendingUpdate");
  Post(2);
  return 0;
}

void DisplayUpdateNotify() { Record("DisplayUpdateNotify"); }

}  // namespace AU
