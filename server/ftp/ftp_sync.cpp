// CSvrConfig's FTP operations: the address and account read back from the
// FTP library, and the account, share list and address pushed to it.
#include "server/ftp/ftp_sync.h"

#include <winsock2.h>
#include <windows.h>

#include "foundation/codec/md5.h"
#include "foundation/log/server_logs.h"
#include "foundation/sync/locks.h"
#include "foundation/text/ascii_case.h"
#include "foundation/text/hex_text.h"
#include "foundation/util/code_pages.h"
#include "foundation/util/net_address.h"
#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"
#include "server/ftp/ftp_library.h"
#include "server/ftp/ftp_shares.h"

namespace {
// One push at a time, each with the list and the account as they are when it
// leaves: two threads pushing at once could otherwise leave the library with
// the older list.
CLock g_pushLock;

std::wstring BufferText(wchar_t (&buffer)[FRLI_TEXT_UNITS]) {
  buffer[FRLI_TEXT_UNITS - 1] = 0;
  return std::wstring(buffer);
}

bool IsDottedAddress(const std::wstring& host) {
  std::string narrow = WideToNarrow(host, CP_ACP);
  if (narrow.size() > 64) narrow.resize(64);
  return !narrow.empty() && narrow[0] >= '0' && narrow[0] <= '9' && inet_addr(narrow.c_str()) != INADDR_NONE;
}
}  // namespace

std::wstring FtpPasswordDigest(const std::wstring& password) {
  if (password.empty()) return {};
  const std::string ansi = WideToNarrow(password, CP_ACP);
  uint8_t digest[16];
  MD5Digest(ansi.data(), ansi.size(), digest);
  const std::string hex = HexText(digest, 16);
  return std::wstring(hex.begin(), hex.end());
}

void CSvrConfig::LoadServerAddress() {
  wchar_t host[FRLI_TEXT_UNITS] = {};
  uint32_t port = 0;
  if (!FRLI_GetSvrAddress(host, &port)) return;
  const std::wstring text = BufferText(host);
  std::vector<std::string> addresses;
  if (text.empty()) {
    const std::wstring stored = Ftp().host;
    if (stored.empty() || stored == L"0.0.0.0") GetLocalHostAddresses(&addresses);
  }
  UpdateFtp([&](FtpConfig& ftp) {
    if (!text.empty()) {
      ftp.hostType = IsDottedAddress(text) ? 1 : 2;
      ftp.host = text;
    } else if (!addresses.empty() && (ftp.host.empty() || ftp.host == L"0.0.0.0")) {
      ftp.hostType = 1;
      ftp.host = std::wstring(addresses.front().begin(), addresses.front().end());
    }
    ftp.port = int(port);
  });
}

void CSvrConfig::SyncAccount(const std::vector<std::wstring>& publishedDirs) {
  wchar_t userBuffer[FRLI_TEXT_UNITS] = {}, pswdBuffer[FRLI_TEXT_UNITS] = {};
  FRLI_GetAccount(userBuffer, pswdBuffer);
  const std::wstring user = BufferText(userBuffer), reported = BufferText(pswdBuffer);
  const bool pswdDiffers = UpdateFtp([&](FtpConfig& ftp) {
    if (user.empty())
      ftp.user.clear();
    else if (!(user == L"anonymous" && ftp.user.empty()))
      ftp.user = user;
    // The library knows the password only as its digest. One that does not
    // match is the library's that is out of step: the configured password is
    // kept and pushed to it below, never replaced or emptied.
    return !ftp.password.empty() && CompareNoCase(AsU16(FtpPasswordDigest(ftp.password)), AsU16(reported)) != 0;
  });
  if (pswdDiffers) WriteLog(&g_MainLog, 3, "FTP Account return pswd diff client record");
  MergeFtpShareDirs(FtpGetShareDirs(), publishedDirs);
  AddShareDir();
}

void CSvrConfig::AddShareDir() {
  CLockGuard push(g_pushLock);
  const FtpConfig ftp = Ftp();
  FtpAddShareDirs(ftp.user, ftp.password, FtpShareDirsSnapshot());
  FRLI_SetAccount();
}

void CSvrConfig::SetCustomAddress() {
  CLockGuard push(g_pushLock);
  const FtpConfig ftp = Ftp();
  FRLI_SetCustomAddress(ftp.host.c_str(), uint32_t(ftp.port));
}
