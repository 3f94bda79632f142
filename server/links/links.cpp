// Link texts from the configuration and the FTP share list.
#include "server/links/links.h"

#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"
#include "server/ftp/ftp_shares.h"
#include "server/links/codec/link_text.h"
#include "server/publish/codec/publish_records.h"

namespace {
std::u16string U16(const std::wstring& s) { return std::u16string(AsU16(s)); }
}  // namespace

std::wstring MakeVxhdLink(const CPublishItem* item, bool parentNaming) {
  if (!item) return {};
  return ToWide(MakeVxhdLinkText(uint64_t(item->fileSize), item->fid, RecordPathText(item->fileName), parentNaming));
}

std::wstring MakeFtpLink(const wchar_t* path, const wchar_t* host) {
  if (!path || !*path) return {};
  const FtpConfig ftp = g_SvrConfig.Ftp();  // one copy: the address is written on other threads
  FtpLinkSettings settings;
  settings.user = U16(ftp.user);
  settings.password = U16(ftp.password);
  settings.host = U16(ftp.host);
  settings.port = uint32_t(ftp.port);
  for (const FtpShareDir& e : FtpShareDirsSnapshot()) settings.shares.push_back({U16(e.localPath), U16(e.ftpPath), e.flag});
  return ToWide(MakeFtpLinkText(AsU16(std::wstring_view(path)), settings,
                                host ? AsU16(std::wstring_view(host)) : std::u16string_view()));
}
