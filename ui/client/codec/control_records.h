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

struct P2pTotals {
  uint8_t bytes[24];
};
static_assert(sizeof(P2pTotals) == 24);

struct P2pStatBlock {
  uint8_t bytes[56];
};
static_assert(sizeof(P2pStatBlock) == 56);

#pragma pack(pop)
