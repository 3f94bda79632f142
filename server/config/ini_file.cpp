// CIniFile: private-profile access to one INI file.
#include "server/config/ini_file.h"

#include <windows.h>

namespace {
constexpr DWORD kTextCapacity = 4095;
}

CIniFile::~CIniFile() { Flush(); }

int CIniFile::GetInt(const wchar_t* section, const wchar_t* key, int defaultValue) const {
  return static_cast<int>(GetPrivateProfileIntW(section, key, defaultValue, path_.c_str()));
}

std::wstring CIniFile::GetText(const wchar_t* section, const wchar_t* key, const wchar_t* defaultValue) const {
  wchar_t text[kTextCapacity + 1] = {};
  DWORD n = GetPrivateProfileStringW(section, key, L"", text, kTextCapacity, path_.c_str());
  if (n == 0) return defaultValue ? defaultValue : L"";
  return std::wstring(text, n);
}

bool CIniFile::WriteText(const wchar_t* section, const wchar_t* key, const std::wstring& value) const {
  return WritePrivateProfileStringW(section, key, value.c_str(), path_.c_str()) != FALSE;
}

bool CIniFile::WriteInt(const wchar_t* section, const wchar_t* key, int value) const {
  return WriteText(section, key, std::to_wstring(value));
}

void CIniFile::Flush() const {
  if (!path_.empty()) WritePrivateProfileStringW(nullptr, nullptr, nullptr, path_.c_str());
}
