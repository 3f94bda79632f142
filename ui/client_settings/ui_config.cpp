// Private-profile reads and writes of the settings file.
#include "ui/client_settings/ui_config.h"

#include <windows.h>
#include <shlwapi.h>

#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"
#include "ui/client_settings/ui_log.h"

namespace {

std::wstring ReadString(const std::wstring& path, const wchar_t* section, const wchar_t* key,
                        const wchar_t* fallback) {
  std::wstring buffer(4096, L'\0');
  DWORD n = GetPrivateProfileStringW(section, key, fallback, buffer.data(), 4095, path.c_str());
  buffer.resize(n);
  return buffer;
}

int ReadInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, int fallback) {
  return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, path.c_str()));
}

void WriteInt(const std::wstring& path, const wchar_t* section, const wchar_t* key, long long value) {
  wchar_t text[32];
  wsprintfW(text, L"%d", static_cast<int>(value));
  WritePrivateProfileStringW(section, key, text, path.c_str());
}

std::wstring SiteSection(size_t n) {
  wchar_t section[32];
  wsprintfW(section, L"site_%d", static_cast<int>(n));
  return section;
}

std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }
std::wstring Wide(const std::u16string& s) { return std::wstring(s.begin(), s.end()); }

}  // namespace

UiConfig& Config() {
  static UiConfig config;
  return config;
}

std::wstring UiConfigPath() { return ModulePathOf(L"od_ui_cfg.ini"); }

void LoadUiConfig(const std::wstring& path, UiConfig& config) {
  if (!PathFileExistsW(path.c_str())) {
    WriteUiLog(1, "Config %s isn't exist", WideToNarrow(path, CP_ACP).c_str());
    return;
  }
  config.urlFmt = ReadInt(path, L"user", L"UrlFmt", 0);
  config.nameFmt = ReadInt(path, L"user", L"NameFmt", 0);
  config.sort = ReadInt(path, L"user", L"Sort", 0);
  int count = ReadInt(path, L"site", L"count", 0);
  config.lastConn = ReadString(path, L"site", L"lastconn", L"127.0.0.1");
  config.sites.clear();
  for (int n = 1; n <= count; ++n) {
    std::wstring section = SiteSection(static_cast<size_t>(n));
    Site site;
    site.address = U16(ReadString(path, section.c_str(), L"address", L""));
    site.port = static_cast<uint16_t>(ReadInt(path, section.c_str(), L"port", 0));
    site.autoLogin = static_cast<uint32_t>(ReadInt(path, section.c_str(), L"auto", 0));
    config.sites.push_back(site);
  }
}

void SaveUiConfig(const std::wstring& path, const UiConfig& config) {
  WriteInt(path, L"user", L"UrlFmt", config.urlFmt);
  WriteInt(path, L"user", L"NameFmt", config.nameFmt);
  WriteInt(path, L"user", L"Sort", config.sort);
  WriteInt(path, L"site", L"count", static_cast<long long>(config.sites.size()));
  WritePrivateProfileStringW(L"site", L"lastconn", config.lastConn.c_str(), path.c_str());
  for (size_t i = 0; i < config.sites.size(); ++i) {
    std::wstring section = SiteSection(i + 1);
    const Site& site = config.sites[i];
    WriteInt(path, section.c_str(), L"auto", site.autoLogin);
    WritePrivateProfileStringW(section.c_str(), L"address", Wide(site.address).c_str(), path.c_str());
    WriteInt(path, section.c_str(), L"port", site.port);
  }
  WritePrivateProfileStringW(nullptr, nullptr, nullptr, path.c_str());
}
