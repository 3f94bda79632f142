// The share-directory list across the FTP library's boundary.
#include "server/ftp/ftp_library.h"

#include <cstring>

namespace {
void CopyField(wchar_t (&field)[FRLI_PATH_UNITS], const std::wstring& text) {
  std::memset(field, 0, sizeof field);
  const size_t n = text.size() < FRLI_PATH_UNITS - 1 ? text.size() : FRLI_PATH_UNITS - 1;
  std::memcpy(field, text.data(), n * sizeof(wchar_t));
}
std::wstring FieldText(const wchar_t (&field)[FRLI_PATH_UNITS]) {
  size_t n = 0;
  while (n < FRLI_PATH_UNITS && field[n]) ++n;
  return std::wstring(field, n);
}
}  // namespace

void FtpAddShareDirs(const std::wstring& user, const std::wstring& password, const FtpShareDirList& list) {
  std::vector<FRLI_SHARE_DIR> records(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    CopyField(records[i].localPath, list[i].localPath);
    CopyField(records[i].ftpPath, list[i].ftpPath);
    records[i].flag = list[i].flag;
  }
  FRLI_AddShareDir(user.c_str(), password.c_str(), records.data(), uint32_t(records.size()));
}

FtpShareDirList FtpGetShareDirs() {
  const uint32_t count = FRLI_GetShareDirCount();
  std::vector<FRLI_SHARE_DIR> records(count);
  const uint32_t got = count ? FRLI_GetShareDir(records.data(), count) : 0;
  FtpShareDirList list;
  for (uint32_t i = 0; i < got && i < count; ++i)
    list.push_back({FieldText(records[i].localPath), FieldText(records[i].ftpPath), records[i].flag});
  return list;
}
