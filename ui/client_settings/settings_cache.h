// The server's FTP and P2P settings as last read, shown and edited by the
// settings pages. Filled by the main dialog's first successful poll.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "ui/client/codec/control_records.h"

struct SettingsCache {
  uint32_t ftpHostType = 1;  // 1 IP address, 2 domain name
  std::wstring ftpHost;
  uint16_t ftpPort = 21;
  std::wstring ftpUser;
  std::wstring ftpPassword;  // plain text as last entered
  bool ftpServerHasPassword = false;  // command 65 gave a password digest
  std::vector<FtpShareDirEntry> ftpDirs;
  uint32_t p2pMaxUpSpeed = 0;
  uint16_t p2pLogLevel = 9;
  uint16_t p2pPort = 8000;
};

SettingsCache& Cache();
// Back to the values at start, as before the first successful poll.
void ResetSettingsCache();

// Each refreshes its part of the cache from the server; nothing changes unless the command succeeds.
void LoadFtpAccount();
void LoadFtpSetting();
void LoadP2pSetting();
