// The Run key's "WrenSvr" value.
#include "ui/app/run_at_boot.h"

#include <windows.h>

#include <cwchar>

namespace {
const wchar_t kRunKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kValueName[] = L"WrenSvr";
}  // namespace

int GetRunAtBoot() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  wchar_t value[MAX_PATH] = {};
  DWORD bytes = sizeof value - sizeof(wchar_t);  // room left for a terminator the registry may not store
  DWORD type = 0;
  LONG result = RegQueryValueExW(key, kValueName, nullptr, &type, reinterpret_cast<BYTE*>(value), &bytes);
  RegCloseKey(key);
  return result == ERROR_SUCCESS && value[0] != L'\0' ? 1 : 0;
}

int SetRunAtBoot(int flag) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return 0;
  LONG result = ERROR_SUCCESS;
  if (flag != 0) {
    wchar_t program[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
      result = ERROR_ACCESS_DENIED;
    } else {
      wchar_t command[MAX_PATH + 16] = {};
      std::swprintf(command, MAX_PATH + 16, L"\"%ls\" -boot", program);
      result = RegSetValueExW(key, kValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                              static_cast<DWORD>((wcslen(command) + 1) * sizeof(wchar_t)));
    }
  } else {
    result = RegDeleteValueW(key, kValueName);
  }
  RegCloseKey(key);
  return result == ERROR_SUCCESS ? 1 : 0;
}
