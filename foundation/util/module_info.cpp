// Version resources, error texts and the processor name.
#include "foundation/util/module_info.h"

#include <cstdio>
#include <vector>

bool GetModuleVersion(HMODULE module, uint16_t version[4]) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return false;
  std::vector<uint8_t> data(size);
  if (!GetFileVersionInfoW(path, 0, size, data.data())) return false;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT len = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || info == nullptr ||
      len < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  version[0] = HIWORD(info->dwFileVersionMS);
  version[1] = LOWORD(info->dwFileVersionMS);
  version[2] = HIWORD(info->dwFileVersionLS);
  version[3] = LOWORD(info->dwFileVersionLS);
  return true;
}

std::string GetModuleVersionText(HMODULE module) {
  uint16_t v[4];
  if (!GetModuleVersion(module, v)) return "0.0.0.0";
  char buf[32];
  snprintf(buf, sizeof buf, "%d.%d.%d.%d", v[0], v[1], v[2], v[3]);
  return buf;
}

std::string GetLastErrorText() {
  const DWORD error = GetLastError();
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  char head[64];
  snprintf(head, sizeof head, "errorcode:%d, description: ", static_cast<int>(error));
  std::string out = std::string(head) + (text != nullptr ? text : "");
  if (text != nullptr) LocalFree(text);
  return out;
}

std::wstring GetCpuName() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ,
                    &key) != ERROR_SUCCESS) {
    return std::wstring();
  }
  wchar_t name[256] = {};
  DWORD size = sizeof name - sizeof(wchar_t);
  DWORD type = 0;
  std::wstring out;
  if (RegQueryValueExW(key, L"ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ) {
    out.assign(name, size / sizeof(wchar_t));
    while (!out.empty() && out.back() == L'\0') out.pop_back();
  }
  RegCloseKey(key);
  return out;
}
