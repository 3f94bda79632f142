// The FTP share-directory list of OrchardSvc: its entries and their rules.
#include "server/ftp/ftp_shares.h"

#include <windows.h>

#include "foundation/sync/locks.h"
#include "foundation/text/ascii_case.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/path_ops.h"
#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"

namespace {
CLock g_lock;
FtpShareDirList g_list;  // under g_lock

bool SamePath(const std::wstring& a, const std::wstring& b) { return CompareNoCase(AsU16(a), AsU16(b)) == 0; }

bool Listed(const FtpShareDirList& list, const std::wstring& dir) {
  for (const FtpShareDir& e : list)
    if (SamePath(e.localPath, dir)) return true;
  return false;
}
}  // namespace

std::wstring FtpSidePath(const std::wstring& home, const std::wstring& dir) {
  uint8_t id[16];
  MakePathRecordId(dir, id);
  const std::string hex = HexText(id, 16);
  return home + L"\\" + std::wstring(hex.begin(), hex.end());
}

std::wstring FtpHomeFolder() { return GetAppDataDir(L"ODHomeDir"); }

FtpShareDirList FtpShareDirsSnapshot() {
  CLockGuard guard(g_lock);
  return g_list;
}

void SetFtpShareDirs(const FtpShareDirList& list) {
  CLockGuard guard(g_lock);
  g_list = list;
}

void MergeFtpShareDirs(const FtpShareDirList& fromLibrary, const std::vector<std::wstring>& publishedDirs) {
  CLockGuard guard(g_lock);
  if (!fromLibrary.empty()) g_list = fromLibrary;
  std::wstring home;
  for (const FtpShareDir& e : g_list) {
    if (e.flag) {
      home = e.localPath;
      break;
    }
  }
  if (home.empty()) {
    const std::wstring folder = FtpHomeFolder();
    if (IsDirectory(folder.c_str())) {
      home = folder;
      g_list.push_back({home, L"", 1});
    }
  }
  if (home.empty()) return;
  for (const std::wstring& dir : publishedDirs)
    if (!Listed(g_list, dir)) g_list.push_back({dir, FtpSidePath(home, dir), 0});
}

void CFtpShares::AddShare(const std::wstring& dir) {
  {
    CLockGuard guard(g_lock);
    if (g_list.empty()) {
      const std::wstring home = FtpHomeFolder();
      if (IsDirectory(home.c_str())) g_list.push_back({home, L"", 1});
    }
    if (!Listed(g_list, dir) && !g_list.empty())
      g_list.push_back({dir.substr(0, 260), FtpSidePath(g_list.front().localPath, dir).substr(0, 520), 0});
  }
  g_SvrConfig.AddShareDir();
}

void CFtpShares::RemoveShare(const std::wstring& dir) {
  {
    CLockGuard guard(g_lock);
    for (auto it = g_list.begin(); it != g_list.end(); ++it) {
      if (SamePath(it->localPath, dir)) {
        g_list.erase(it);
        break;
      }
    }
  }
  g_SvrConfig.AddShareDir();
}

CFtpShares& FtpShares() {
  static CFtpShares shares;
  return shares;
}
