// The hash record: one small file per hashed file holding its size, fid and
// MD5 piece digests, checked by a CRC-32 over the body. Encoding and the checks
// of a read record; platform-free (the store's file access is elsewhere).
//
//   0   i32  version, 1
//   4   u32  CRC-32 of the body (start 0, no final inversion)
//   8   u32  body length: 24 + 16 x n
//   12  36   zero
//   48  u64  file size          (body starts here)
//   56  16   fid
//   72  16n  MD5 piece digests, piece 0 first
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr uint32_t kHashRecordVersion = 1;
constexpr size_t kHashRecordHeaderSize = 48;
constexpr size_t kHashRecordBodyFixed = 24;
// Record files outside (kHashRecordHeaderSize, kHashRecordMaxFileSize] are ignored.
constexpr uint64_t kHashRecordMaxFileSize = 0x10000000;
// Records of files of at most this size are not kept.
constexpr uint64_t kHashRecordKeepAbove = 0x4000000;

// Builds the whole record file. Empty when the digest bytes are not a whole number of digests.
std::vector<uint8_t> EncodeHashRecord(uint64_t fileSize, const uint8_t fid[16],
                                      const uint8_t* digests, size_t digestBytes);

// How far a record got through the checks, in the order they are made.
enum class HashRecordCheck {
  kBadFileSize,     // record file of 48 bytes or less, or above the maximum
  kBadHeader,       // version not 1, or file size not body length + 48
  kBadBody,         // body shorter than its length, or CRC mismatch
  kSizeMismatch,    // stored file size differs from the expected one
  kBadPieceCount,   // body length does not hold exactly 16 x n digests
  kOk,
};

struct HashRecordContents {
  uint64_t fileSize = 0;
  uint8_t fid[16] = {};
  std::vector<uint8_t> digests;
};

// Whether a record file of this (full 64-bit) size is worth reading at all.
bool HashRecordFileSizeOk(uint64_t recordFileSize);

// Checks a record read whole (data, n = the record file's size) against the
// size of the file it should describe. Fills out when the body passed its CRC;
// out->digests only with kOk.
HashRecordCheck DecodeHashRecord(const uint8_t* data, uint64_t n, uint64_t expectedFileSize,
                                 HashRecordContents* out);
