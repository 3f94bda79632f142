// The FTP commands' request fields and reply records. Platform-free.
#include "server/control/codec/ftp_fields.h"

#include <cstring>

#include "server/control/codec/control_fields.h"

namespace {
// The request's record bytes: what the body holds, the rest zeros.
template <size_t N>
void TakeBytes(const uint8_t* data, size_t size, uint8_t (&out)[N]) {
  std::memset(out, 0, N);
  if (data != nullptr && size != 0) std::memcpy(out, data, size < N ? size : N);
}

uint32_t U32At(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t U16At(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// PutTextField into a field of a packed record, by way of an aligned copy.
template <size_t Units>
void PutField(void* field, const std::u16string& text) {
  char16_t units[Units];
  PutTextField(units, Units, text);
  std::memcpy(field, units, sizeof units);
}

std::u16string NameAt(const uint8_t* p) {
  uint8_t field[kNameUnits * 2];
  std::memcpy(field, p, sizeof field);
  return ReadNameField(field);
}
}  // namespace

std::u16string ReadNameField(const uint8_t (&bytes)[kNameUnits * 2]) {
  std::u16string out;
  for (size_t i = 0; i < kNameUnits; ++i) {
    const char16_t unit = char16_t(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if (unit == 0) break;
    out.push_back(unit);
  }
  return out;
}

FtpAccountChange ParseFtpAccountRequest(const uint8_t* data, size_t size) {
  uint8_t bytes[sizeof(FtpAccountRequest)];
  TakeBytes(data, size, bytes);
  return {NameAt(bytes + offsetof(FtpAccountRequest, user)), NameAt(bytes + offsetof(FtpAccountRequest, password))};
}

FtpAddressChange ParseFtpSettingRequest(const uint8_t* data, size_t size) {
  uint8_t bytes[sizeof(FtpSettingRequest)];
  TakeBytes(data, size, bytes);
  FtpAddressChange change;
  change.hostType = U32At(bytes + offsetof(FtpSettingRequest, hostType));
  change.host = NameAt(bytes + offsetof(FtpSettingRequest, host));
  change.port = U16At(bytes + offsetof(FtpSettingRequest, port));
  return change;
}

FtpAccountHead MakeFtpAccountHead(const std::u16string& user, const std::u16string& passwordDigest, uint32_t dirCount) {
  FtpAccountHead head;
  PutField<kNameUnits>(head.user, user);
  PutField<kNameUnits>(head.password, passwordDigest);
  head.dirCount = dirCount;
  return head;
}

FtpShareDirEntry MakeFtpShareDirEntry(const std::u16string& first, const std::u16string& second, uint32_t isHome) {
  FtpShareDirEntry entry;
  PutField<kPathUnits>(entry.first, first);
  PutField<kPathUnits>(entry.second, second);
  entry.isHome = isHome;
  return entry;
}

FtpSetting MakeFtpSetting(const std::u16string& host, uint16_t port) {
  FtpSetting setting;
  PutField<kNameUnits>(setting.host, host);
  setting.port = port;
  return setting;
}
