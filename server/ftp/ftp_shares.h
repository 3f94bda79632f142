// OrchardSvc's FTP share-directory list: the home entry and one entry per
// published directory, pushed with the account to the FTP library after
// each change. Guarded, as the control channel, the window and the publish
// threads all use it.
#pragma once
#include <string>
#include <vector>

#include "server/ftp/ftp_library.h"
#include "server/publish/publish_hooks.h"

// A copy of the list, in its order.
FtpShareDirList FtpShareDirsSnapshot();
// Replaces the list; for a start from a known state.
void SetFtpShareDirs(const FtpShareDirList& list);

// The account read back from the library at its log-on: the library's list
// (when it gave one) replaces ours; a home entry is added when none has the
// flag and the home folder exists; then every published directory without an
// entry gets one below the home directory.
void MergeFtpShareDirs(const FtpShareDirList& fromLibrary, const std::vector<std::wstring>& publishedDirs);

// The publish manager's side: a directory added or removed; each pushes the
// account and the list afterwards, also when the list did not change.
class CFtpShares : public IFtpShares {
 public:
  void AddShare(const std::wstring& dir) override;
  void RemoveShare(const std::wstring& dir) override;
};
CFtpShares& FtpShares();

// "<home>\<32 upper-case hex digits of the MD5 of the path's UTF-16LE units>".
std::wstring FtpSidePath(const std::wstring& home, const std::wstring& dir);
// "ODHomeDir" in the account's application data, created when missing.
std::wstring FtpHomeFolder();
