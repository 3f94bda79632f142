// CSvrConfig: OrchardSvc's one settings object, the values of "od_svr_cfg.ini"
// next to the program, the FTP account and address, and the data directory.
#pragma once
#include <string>

#include "server/config/ini_file.h"

// Bits of the service type.
constexpr int kServiceFtp = 1;
constexpr int kServiceP2p = 2;

class CSvrConfig {
 public:
  // 1 when the file exists and was read; 0 when it is missing, and then every
  // value keeps the one it was built with (so neither service starts). The
  // file lies in dir, or next to the program when dir is null.
  int Load(const wchar_t* dir = nullptr);
  // Writes the kept values back (never the [service] keys). 1 when every
  // write went through.
  int Save();
  // 1 when the data directory exists or was created.
  int InitStoreDir();
  // Hands the upload limit and the P2P log level to the core once it is logged in.
  void ApplyP2PSettings();

  int logLevel = 0;          // [service] loglevel, threshold of the main log
  int serviceType = 0;       // [service] servicetype, kServiceFtp | kServiceP2p
  int p2pMaxUpSpeed = 0;     // [limit] p2p_max_upspeed, KB/s
  int p2pLogLevel = 9;       // [p2p] loglevel
  int p2pPort = 8000;        // [p2p] port
  std::wstring ftpUser;      // [ftp] user
  std::wstring ftpPassword;  // [ftp] pswd, plain text in the file
  int ftpHostType = 1;       // [ftp] hosttype: 1 an IPv4 address, 2 a domain name
  std::wstring ftpHost;      // [ftp] host
  int ftpPort = 21;          // learnt from the FTP library, not kept in the file
  std::wstring dataDir;      // "ODStore" in the account's application data
  std::wstring autoDir;      // [auto] dir
  int waitTime = 0;          // [update] waittime, one-second ticks
  CIniFile ini;
};

extern CSvrConfig g_SvrConfig;

constexpr const wchar_t* kSvrConfigFile = L"od_svr_cfg.ini";
constexpr const wchar_t* kStoreDirName = L"ODStore";
