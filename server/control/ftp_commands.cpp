// FTP commands: the account, address and share list of the configuration,
// changed values pushed to the FTP library, and its traffic figures.
#include "server/control/ftp_commands.h"

#include <cstring>
#include <vector>

#include "foundation/log/server_logs.h"
#include "foundation/text/ascii_case.h"
#include "foundation/util/wide_text.h"
#include "server/config/svr_config.h"
#include "server/control/codec/ftp_fields.h"
#include "server/control/control_reply.h"
#include "server/ftp/ftp_library.h"
#include "server/ftp/ftp_shares.h"
#include "server/ftp/ftp_sync.h"

namespace {
std::u16string U16(const std::wstring& s) { return std::u16string(AsU16(s)); }
std::wstring Wide(const std::u16string& s) { return ToWide(s); }
bool SameNoCase(const std::u16string& a, const std::wstring& b) { return CompareNoCase(a, AsU16(b)) == 0; }

// The request's bytes after the code.
const uint8_t* Rest(CStreamReader& request, size_t* size) {
  *size = request.Ok() ? request.Size() - request.Position() : 0;
  return request.ReadPointer();
}

uint16_t WirePort(int port) { return port > 0 && port <= 0xFFFF ? uint16_t(port) : 0; }
}  // namespace

void OnGetFtpAccount(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get account of ftp");
  const FtpConfig ftp = g_SvrConfig.Ftp();
  const FtpShareDirList dirs = FtpShareDirsSnapshot();
  // The password leaves only as the digest the FTP library reports, which is
  // what the user interface compares its own copy with.
  const FtpAccountHead head = MakeFtpAccountHead(U16(ftp.user), U16(FtpPasswordDigest(ftp.password)),
                                                 static_cast<uint32_t>(dirs.size()));
  std::vector<uint8_t> payload(sizeof head + dirs.size() * sizeof(FtpShareDirEntry));
  std::memcpy(payload.data(), &head, sizeof head);
  for (size_t i = 0; i < dirs.size(); ++i) {
    const FtpShareDirEntry entry = MakeFtpShareDirEntry(U16(dirs[i].localPath), U16(dirs[i].ftpPath), dirs[i].flag);
    std::memcpy(payload.data() + sizeof head + i * sizeof entry, &entry, sizeof entry);
  }
  Reply(reply, ControlStatus::Ok, payload.data(), static_cast<uint32_t>(payload.size()));
}

void OnSetFtpAccount(CStreamReader& request, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Set account of ftp");
  size_t size = 0;
  const uint8_t* data = Rest(request, &size);
  const FtpAccountChange change = ParseFtpAccountRequest(data, size);
  // A user name that differs only in letter case is the same user; a password
  // is compared exactly, or "pw1" could never become "PW1" while the answer says 200.
  const bool stored = g_SvrConfig.UpdateFtp([&](FtpConfig& ftp) {
    bool any = false;
    if (!SameNoCase(change.user, ftp.user)) {
      ftp.user = Wide(change.user);
      any = true;
    }
    if (Wide(change.password) != ftp.password) {
      ftp.password = Wide(change.password);
      any = true;
    }
    return any;
  });
  if (stored) g_SvrConfig.AddShareDir();
  Reply(reply, ControlStatus::Ok);
}

void OnGetFtpSetting(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get setting of ftp");
  const FtpConfig ftp = g_SvrConfig.Ftp();
  ReplyRecord(reply, ControlStatus::Ok, MakeFtpSetting(U16(ftp.host), WirePort(ftp.port)));
}

void OnSetFtpSetting(CStreamReader& request, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Set setting of ftp");
  size_t size = 0;
  const uint8_t* data = Rest(request, &size);
  const FtpAddressChange change = ParseFtpSettingRequest(data, size);
  // The user interface sends port 0 with a domain name: the port stays. An
  // empty host or a host type other than 1 and 2 changes nothing either.
  const bool stored = g_SvrConfig.UpdateFtp([&](FtpConfig& ftp) {
    bool any = false;
    if (!change.host.empty() && !SameNoCase(change.host, ftp.host)) {
      ftp.host = Wide(change.host);
      any = true;
    }
    if (change.port != 0 && change.port != ftp.port) {
      ftp.port = change.port;
      any = true;
    }
    if (change.hostType == 1 || change.hostType == 2) ftp.hostType = int(change.hostType);
    return any;
  });
  if (stored) g_SvrConfig.SetCustomAddress();
  Reply(reply, ControlStatus::Ok);
}

void OnGetFtpStatistics(CStreamReader&, CByteBuffer* reply) {
  WriteLog(&g_MainLog, 1, "CMD - Get statistics of ftp");
  FtpStatistics stats{};
  uint64_t first = 0, second = 0;
  FRLI_GetNetIO(&first, &second);
  stats.first = first;
  stats.second = second;
  stats.connections = FRLI_GetConnUserCount();
  ReplyRecord(reply, ControlStatus::Ok, stats);
}
