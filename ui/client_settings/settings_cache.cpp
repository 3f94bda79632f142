// Refreshing the cache from the server's replies.
#include "ui/client_settings/settings_cache.h"

#include <winsock2.h>
#include <windows.h>

#include "foundation/codec/md5.h"
#include "foundation/text/hex_text.h"
#include "ui/client/control_client.h"
#include "ui/client_settings/ui_log.h"
#include "foundation/util/code_pages.h"

SettingsCache& Cache() {
  static SettingsCache cache;
  return cache;
}

void ResetSettingsCache() { Cache() = SettingsCache(); }

namespace {
std::wstring Md5Hex(const std::string& bytes) {
  uint8_t digest[16];
  MD5Digest(bytes.data(), bytes.size(), digest);
  std::string hex = HexText(digest, sizeof digest);
  return std::wstring(hex.begin(), hex.end());
}
}  // namespace

void LoadFtpAccount() {
  FtpAccount reply;
  if (GetFtpAccount(reply) != kResultOk) return;
  SettingsCache& cache = Cache();
  if (reply.user.empty()) {
    cache.ftpUser.clear();
  } else if (!(reply.user == L"anonymous" && cache.ftpUser.empty())) {
    cache.ftpUser = reply.user;
  }
  cache.ftpServerHasPassword = !reply.password.empty();
  if (!cache.ftpPassword.empty()) {
    std::wstring expected = Md5Hex(WideToNarrow(cache.ftpPassword, CP_ACP));
    if (lstrcmpiW(expected.c_str(), reply.password.c_str()) != 0) {
      WriteUiLog(3, "FTP Account return pswd diff client record");
      cache.ftpPassword.clear();
    }
  }
  cache.ftpDirs = std::move(reply.dirs);
}

void LoadFtpSetting() {
  std::wstring host;
  uint16_t port = 0;
  if (GetFtpSetting(host, port) != kResultOk) return;
  SettingsCache& cache = Cache();
  if (!host.empty()) {
    std::string narrow = WideToNarrow(host, CP_ACP);
    if (narrow.size() > 64) narrow.resize(64);
    bool address = !narrow.empty() && narrow[0] >= '0' && narrow[0] <= '9' && inet_addr(narrow.c_str()) != INADDR_NONE;
    cache.ftpHostType = address ? 1 : 2;
    cache.ftpHost = host;
  }
  cache.ftpPort = port;
}

void LoadP2pSetting() {
  P2pSetting setting{};
  if (GetP2pSetting(setting) != kResultOk) return;
  SettingsCache& cache = Cache();
  cache.p2pMaxUpSpeed = setting.maxUpSpeed;
  cache.p2pLogLevel = setting.logLevel;
  cache.p2pPort = setting.port;
}
