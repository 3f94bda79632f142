// Commands 65 to 69 in bytes: the FTP requests as the server reads them and
// the records of its replies. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "server/control/codec/control_records.h"

// A NAME field (128 bytes of UTF-16LE): its text up to the first zero unit,
// all 64 units when it holds none.
std::u16string ReadNameField(const uint8_t (&bytes)[kNameUnits * 2]);

// Command 66 after its code.
struct FtpAccountChange {
  std::u16string user;
  std::u16string password;
};
// Bytes the body lacks read as zeros, as in every request.
FtpAccountChange ParseFtpAccountRequest(const uint8_t* data, size_t size);

// Command 68 after its code.
struct FtpAddressChange {
  uint32_t hostType = 0;
  std::u16string host;
  uint16_t port = 0;
};
FtpAddressChange ParseFtpSettingRequest(const uint8_t* data, size_t size);

// Reply records, each text written as PutTextField writes it.
FtpAccountHead MakeFtpAccountHead(const std::u16string& user, const std::u16string& passwordDigest, uint32_t dirCount);
FtpShareDirEntry MakeFtpShareDirEntry(const std::u16string& first, const std::u16string& second, uint32_t isHome);
FtpSetting MakeFtpSetting(const std::u16string& host, uint16_t port);
