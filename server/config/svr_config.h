// CSvrConfig: OrchardSvc's one settings object, the values of "od_svr_cfg.ini"
// next to the program, the FTP account and address, and the data directory.
#pragma once
#include <string>
#include <vector>

#include "foundation/sync/locks.h"
#include "server/config/ini_file.h"

// Bits of the service type.
constexpr int kServiceFtp = 1;
constexpr int kServiceP2p = 2;

// The FTP account and address. The FTP library's thread (its address
// report), the window thread (the account read back), the control channel
// (commands 66 and 68) and the publish and report threads (FTP links) all
// use them, so they live under the configuration's lock and go out as copies:
// a link is never built from a half-written address.
struct FtpConfig {
  std::wstring user;      // [ftp] user
  std::wstring password;  // [ftp] pswd, plain text in the file
  int hostType = 1;       // [ftp] hosttype: 1 an IPv4 address, 2 a domain name
  std::wstring host;      // [ftp] host
  int port = 21;          // learnt from the FTP library, not kept in the file
};

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

  // A copy of the FTP account and address, taken under the lock.
  FtpConfig Ftp() const;
  // Runs change(FtpConfig&) under the lock and passes back what it returns,
  // so a compare-and-store is one step for every other thread.
  template <class Change>
  auto UpdateFtp(Change change) {
    CLockGuard hold(lock_);
    return change(ftp_);
  }
  // [auto] dir, the directory the watcher publishes from; set by the watcher's
  // start (channel or loader thread), read at its start and at save.
  std::wstring AutoDir() const;
  void SetAutoDir(const std::wstring& dir);

  // The FTP operations: they drive the FTP library and are built with it
  // (server/ftp/ftp_sync.cpp).
  // On the library's event 5: its address into the FTP host, host type and port.
  void LoadServerAddress();
  // On message 0x8001: the account and share list read back from the library,
  // the published directories added to the list; then AddShareDir.
  void SyncAccount(const std::vector<std::wstring>& publishedDirs);
  // The account and the share-directory list to the library.
  void AddShareDir();
  // The FTP host and port to the library.
  void SetCustomAddress();

  int logLevel = 0;          // [service] loglevel, threshold of the main log
  int serviceType = 0;       // [service] servicetype, kServiceFtp | kServiceP2p
  int p2pMaxUpSpeed = 0;     // [limit] p2p_max_upspeed, KB/s
  int p2pLogLevel = 9;       // [p2p] loglevel
  int p2pPort = 8000;        // [p2p] port
  std::wstring dataDir;      // "ODStore" in the account's application data
  int waitTime = 0;          // [update] waittime, one-second ticks
  CIniFile ini;

 private:
  mutable CLock lock_;  // guards ftp_ and autoDir_
  FtpConfig ftp_;
  std::wstring autoDir_;     // [auto] dir
};

extern CSvrConfig g_SvrConfig;

constexpr const wchar_t* kSvrConfigFile = L"od_svr_cfg.ini";
constexpr const wchar_t* kStoreDirName = L"ODStore";
