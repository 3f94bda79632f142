// The FTP server library (Ferryline.dll) as OrchardSvc calls it, linked at
// load time; the share-directory list it takes and gives back.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ferryline/ferryline.h"

using FtpEventRecord = FRLI_EVENT;
using FtpEventCallback = FRLI_CALLBACK;

// One entry of the FTP share-directory list.
struct FtpShareDir {
  std::wstring localPath;
  std::wstring ftpPath;  // "<home>\<32 hex digits of the local path's MD5>"; empty for the home entry
  uint32_t flag = 0;     // 1 the home entry, 0 a published directory
};
using FtpShareDirList = std::vector<FtpShareDir>;

// FRLI_AddShareDir with the list in the library's records; each text is cut
// to 259 units with its terminator.
void FtpAddShareDirs(const std::wstring& user, const std::wstring& password, const FtpShareDirList& list);
// FRLI_GetShareDirCount, then FRLI_GetShareDir into room for that many.
FtpShareDirList FtpGetShareDirs();
