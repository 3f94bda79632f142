// The FTP share-directory list of OrchardSvc and its pushes to the library.
#include "server/ftp/ftp_shares.h"

#include <winsock2.h>
#include <windows.h>

#include <mutex>

#include "foundation/codec/md5.h"
#include "foundation/log/server_logs.h"
#include "foundation/text/ascii_case.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/net_address.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"

namespace {
std::mutex g_lock;
FtpShareDirList g_list;  // under g_lock

bool SamePath(const std::wstring& a, const std::wstring& b) { return CompareNoCase(AsU16(a), AsU16(b)) == 0; }

std::wstring HexOfPath(const std::wstring& path) {
  uint8_t id[16];
  MakePathRecordId(path, id);
  const std::string hex = HexText(id, 16);
  return std::wstring(hex.begin(), hex.end());
}
}  // namespace

FtpShareDirList FtpShareDirsSnapshot() {
  std::lock_guard<std::mutex> guard(g_lock);
  return g_list;
}

void SetFtpShareDirs(const FtpShareDirList& list) {
  std::lock_guard<std::mutex> guard(g_lock);
  g_list = list;
}

void PushFtpShareDirs() {
  FtpAddShareDirs(g_SvrConfig.ftpUser, g_SvrConfig.ftpPassword, FtpShareDirsSnapshot());
  FRLI_SetAccount();
}

void CFtpShares::AddShare(const std::wstring& dir) {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_list.empty()) {
      const std::wstring home = GetAppDataDir(L"ODHomeDir");
      if (IsDirectory(home.c_str())) g_list.push_back({home, L"", 1});
    }
    bool known = false;
    for (const FtpShareDir& e : g_list) known = known || SamePath(e.localPath, dir);
    if (!known && !g_list.empty()) g_list.push_back({dir, g_list.front().localPath + L"\\" + HexOfPath(dir), 0});
  }
  PushFtpShareDirs();
}

void CFtpShares::RemoveShare(const std::wstring& dir) {
  {
    std::lock_guard<std::mutex> guard(g_lock);
    for (auto it = g_list.begin(); it != g_list.end(); ++it) {
      if (SamePath(it->localPath, dir)) {
        g_list.erase(it);
        break;
      }
    }
  }
  PushFtpShareDirs();
}

CFtpShares& FtpShares() {
  static CFtpShares shares;
  return shares;
}

void LoadFtpServerAddress() {
  wchar_t host[FRLI_TEXT_UNITS] = {};
  uint32_t port = 0;
  if (!FRLI_GetSvrAddress(host, &port)) return;
  host[FRLI_TEXT_UNITS - 1] = 0;
  const std::wstring text(host);
  if (!text.empty()) {
    const std::string narrow = WideToNarrow(text, CP_ACP).substr(0, 64);
    const bool dotted = !narrow.empty() && narrow[0] >= '0' && narrow[0] <= '9' &&
                        inet_addr(narrow.c_str()) != INADDR_NONE;
    g_SvrConfig.ftpHostType = dotted ? 1 : 2;
    g_SvrConfig.ftpHost = text;
  } else if (g_SvrConfig.ftpHost.empty() || g_SvrConfig.ftpHost == L"0.0.0.0") {
    std::vector<std::string> addresses;
    if (GetLocalHostAddresses(&addresses) == 0 && !addresses.empty()) {
      g_SvrConfig.ftpHostType = 1;
      g_SvrConfig.ftpHost = std::wstring(addresses.front().begin(), addresses.front().end());
    }
  }
  g_SvrConfig.ftpPort = int(port);
}

void SyncFtpAccount(const std::vector<std::wstring>& publishedDirs) {
  wchar_t user[FRLI_TEXT_UNITS] = {}, pswd[FRLI_TEXT_UNITS] = {};
  FRLI_GetAccount(user, pswd);
  user[FRLI_TEXT_UNITS - 1] = pswd[FRLI_TEXT_UNITS - 1] = 0;
  const std::wstring returnedUser(user);
  if (returnedUser.empty())
    g_SvrConfig.ftpUser.clear();
  else if (!(returnedUser == L"anonymous" && g_SvrConfig.ftpUser.empty()))
    g_SvrConfig.ftpUser = returnedUser;
  if (!g_SvrConfig.ftpPassword.empty()) {
    const std::string ansi = WideToNarrow(g_SvrConfig.ftpPassword, CP_ACP);
    uint8_t digest[16];
    MD5Digest(ansi.data(), ansi.size(), digest);
    const std::string hex = HexText(digest, 16);
    if (CompareNoCase(AsU16(std::wstring(hex.begin(), hex.end())), AsU16(std::wstring(pswd))) != 0) {
      WriteLog(&g_MainLog, 3, "FTP Account return pswd diff client record");
      g_SvrConfig.ftpPassword.clear();
    }
  }
  FtpShareDirList list = FtpGetShareDirs();
  {
    std::lock_guard<std::mutex> guard(g_lock);
    if (!list.empty()) g_list = list;
    std::wstring home;
    for (const FtpShareDir& e : g_list)
      if (e.flag && home.empty()) home = e.localPath;
    if (home.empty()) {
      const std::wstring folder = GetAppDataDir(L"ODHomeDir");
      if (IsDirectory(folder.c_str())) {
        home = folder;
        g_list.push_back({home, L"", 1});
      }
    }
    for (const std::wstring& dir : publishedDirs) {
      bool known = false;
      for (const FtpShareDir& e : g_list) known = known || SamePath(e.localPath, dir);
      if (!known && !home.empty()) g_list.push_back({dir, home + L"\\" + HexOfPath(dir), 0});
    }
  }
  PushFtpShareDirs();
}
