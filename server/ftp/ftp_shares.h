// OrchardSvc's FTP share-directory list: the home entry and one entry per
// published directory, pushed with the account to the FTP library after
// each change. Guarded, as the control channel, the window and the publish
// thread all use it.
#pragma once
#include <string>
#include <vector>

#include "server/ftp/ftp_library.h"
#include "server/publish/publish_hooks.h"

// A copy of the list, in its order.
FtpShareDirList FtpShareDirsSnapshot();
// Replaces the list (the library's answer at its log-on).
void SetFtpShareDirs(const FtpShareDirList& list);
// FRLI_AddShareDir with the configured account and the list, then FRLI_SetAccount.
void PushFtpShareDirs();

// The publish manager's side: a directory added or removed.
class CFtpShares : public IFtpShares {
 public:
  void AddShare(const std::wstring& dir) override;
  void RemoveShare(const std::wstring& dir) override;
};
CFtpShares& FtpShares();

// On the library's event 5: the FTP server's address into the configuration.
void LoadFtpServerAddress();
// On message 0x8001: the account and share list read back from the library,
// the published directories added to the list; the list is then pushed.
void SyncFtpAccount(const std::vector<std::wstring>& publishedDirs);
