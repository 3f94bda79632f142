// Fuzz target: the FTP command requests a control-channel client sends after
// the command code (66 account, 68 address), on an exactly sized copy; the
// first byte picks the command. What is read is bounded by the fields, and a
// request built again from it reads back the same.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/control/codec/ftp_fields.h"

namespace {
void PutName(uint8_t* at, const std::u16string& text) {
  std::memset(at, 0, kNameUnits * 2);
  for (size_t i = 0; i < text.size() && i < kNameUnits; ++i) at[2 * i] = uint8_t(text[i]), at[2 * i + 1] = uint8_t(text[i] >> 8);
}
bool NoZero(const std::u16string& text) {
  for (char16_t c : text)
    if (c == 0) return false;
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool address = data[0] & 1;
  const std::vector<uint8_t> body(data + 1, data + size);
  if (address) {
    const FtpAddressChange got = ParseFtpSettingRequest(body.data(), body.size());
    FUZZ_CHECK(got.host.size() <= kNameUnits && NoZero(got.host));
    uint8_t again[sizeof(FtpSettingRequest)];
    again[0] = uint8_t(got.hostType), again[1] = uint8_t(got.hostType >> 8);
    again[2] = uint8_t(got.hostType >> 16), again[3] = uint8_t(got.hostType >> 24);
    PutName(again + offsetof(FtpSettingRequest, host), got.host);
    again[132] = uint8_t(got.port), again[133] = uint8_t(got.port >> 8);
    const FtpAddressChange back = ParseFtpSettingRequest(again, sizeof again);
    FUZZ_CHECK(back.hostType == got.hostType && back.host == got.host && back.port == got.port);
  } else {
    const FtpAccountChange got = ParseFtpAccountRequest(body.data(), body.size());
    FUZZ_CHECK(got.user.size() <= kNameUnits && got.password.size() <= kNameUnits);
    FUZZ_CHECK(NoZero(got.user) && NoZero(got.password));
    uint8_t again[sizeof(FtpAccountRequest)];
    PutName(again, got.user);
    PutName(again + kNameUnits * 2, got.password);
    const FtpAccountChange back = ParseFtpAccountRequest(again, sizeof again);
    FUZZ_CHECK(back.user == got.user && back.password == got.password);
  }
  return 0;
}
