// The records and blocks of control-command replies that the user interface
// reads besides the server's own (directory, file, FTP directory entry and
// server blocks, shared with the server). Byte-packed, little-endian. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

#include "server/control/codec/control_records.h"

#pragma pack(push, 1)

// Rows of the peer and upload lists; their pages read the fields by offset.
struct UserRecord {
  uint8_t bytes[456];
};
static_assert(sizeof(UserRecord) == 456);

struct UploadRecord {
  uint8_t bytes[304];
};
static_assert(sizeof(UploadRecord) == 304);

struct FtpStatistics {
  uint64_t first;
  uint64_t second;
  uint32_t connections;
};
static_assert(sizeof(FtpStatistics) == 20);

struct P2pSetting {
  uint32_t maxUpSpeed;        // KB/s, 0 unlimited
  uint16_t logLevel;
  uint16_t port;
};
static_assert(sizeof(P2pSetting) == 8);

struct P2pTotals {
  uint8_t bytes[24];
};
static_assert(sizeof(P2pTotals) == 24);

struct P2pStatBlock {
  uint8_t bytes[56];
};
static_assert(sizeof(P2pStatBlock) == 56);

// The body of command 49 after its code.
struct ExportRequest {
  uint32_t linkKind;
  uint32_t naming;
  uint32_t sort;
  uint64_t rangeStart;
  uint64_t rangeEnd;
  char16_t keyword[260];
  char16_t path[260];
};
static_assert(sizeof(ExportRequest) == 1068);
static_assert(offsetof(ExportRequest, keyword) == 28 && offsetof(ExportRequest, path) == 548);

#pragma pack(pop)
