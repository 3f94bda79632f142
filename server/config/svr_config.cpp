// CSvrConfig: load at start-up, write-back at shutdown, the data directory.
#include "server/config/svr_config.h"

#include <windows.h>
#include <shlobj.h>

#include "foundation/log/server_logs.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/path_ops.h"
#include "server/control/p2p_api.h"
#include "server/control/server_state.h"

CSvrConfig g_SvrConfig;

int CSvrConfig::InitStoreDir() {
  wchar_t appData[MAX_PATH] = {};
  std::wstring base;
  if (SHGetSpecialFolderPathW(nullptr, appData, CSIDL_APPDATA, TRUE))
    base = appData;
  else
    base = GetModuleDir(nullptr);
  dataDir = PathJoin(base, kStoreDirName);
  if (IsDirectory(dataDir.c_str())) return 1;
  return CreateDirectoryW(dataDir.c_str(), nullptr) ? 1 : 0;
}

int CSvrConfig::Load(const wchar_t* dir) {
  InitStoreDir();
  ini.SetPath(PathJoin(dir ? std::wstring(dir) : GetModuleDir(nullptr), kSvrConfigFile));
  if (!PathExists(ini.Path().c_str())) {
    WriteLog(&g_MainLog, 1, "Config %s isn't exist", Utf16ToGbk(ini.Path()).c_str());
    return 0;
  }
  logLevel = ini.GetInt(L"service", L"loglevel", 0);
  serviceType = ini.GetInt(L"service", L"servicetype", 15);
  p2pMaxUpSpeed = ini.GetInt(L"limit", L"p2p_max_upspeed", 0);
  p2pLogLevel = ini.GetInt(L"p2p", L"loglevel", 0);
  p2pPort = ini.GetInt(L"p2p", L"port", 8000);
  {
    CLockGuard hold(lock_);
    ftp_.user = ini.GetText(L"ftp", L"user", L"");
    ftp_.password = ini.GetText(L"ftp", L"pswd", L"");
    ftp_.hostType = ini.GetInt(L"ftp", L"hosttype", 1);
    ftp_.host = ini.GetText(L"ftp", L"host", L"");
    autoDir_ = ini.GetText(L"auto", L"dir", L"");
  }
  waitTime = ini.GetInt(L"update", L"waittime", 60);
  WriteLog(&g_MainLog, 1, "Load config OK");
  return 1;
}

int CSvrConfig::Save() {
  if (ini.Path().empty()) return 0;  // never loaded: no file to write
  if (waitTime == 0) waitTime = 60;
  const FtpConfig ftp = Ftp();
  bool ok = ini.WriteInt(L"limit", L"p2p_max_upspeed", p2pMaxUpSpeed);
  ok = ini.WriteText(L"ftp", L"user", ftp.user) && ok;
  ok = ini.WriteText(L"ftp", L"pswd", ftp.password) && ok;
  ok = ini.WriteInt(L"ftp", L"hosttype", ftp.hostType) && ok;
  ok = ini.WriteText(L"ftp", L"host", ftp.host) && ok;
  ok = ini.WriteInt(L"p2p", L"port", p2pPort) && ok;
  ok = ini.WriteInt(L"p2p", L"loglevel", p2pLogLevel) && ok;
  ok = ini.WriteText(L"auto", L"dir", AutoDir()) && ok;
  ok = ini.WriteInt(L"update", L"waittime", waitTime) && ok;
  ini.Flush();
  WriteLog(&g_MainLog, 1, "Save config");
  return ok ? 1 : 0;
}

void CSvrConfig::ApplyP2PSettings() {
  if (!P2pLoggedIn()) return;
  set_p2p_upload_speed_max(p2pMaxUpSpeed);
  WriteLog(&g_MainLog, 1, "P2PSvr - Set MaxUploaderSpeed %d", p2pMaxUpSpeed);
  set_p2p_debug_level(p2pLogLevel);
  WriteLog(&g_MainLog, 1, "P2PSvr - Set Level of Log %d", p2pLogLevel);
}

FtpConfig CSvrConfig::Ftp() const {
  CLockGuard hold(lock_);
  return ftp_;
}

std::wstring CSvrConfig::AutoDir() const {
  CLockGuard hold(lock_);
  return autoDir_;
}

void CSvrConfig::SetAutoDir(const std::wstring& dir) {
  CLockGuard hold(lock_);
  autoDir_ = dir;
}
