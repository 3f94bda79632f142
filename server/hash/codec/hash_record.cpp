// Hash record encoding and checks. Every length in the record is checked
// against what was read before it is used.
#include "server/hash/codec/hash_record.h"

#include <cstring>

#include "foundation/codec/crc32.h"
#include "server/hash/codec/piece_size.h"

namespace {
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
uint64_t Get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}
}  // namespace

std::vector<uint8_t> EncodeHashRecord(uint64_t fileSize, const uint8_t fid[16],
                                      const uint8_t* digests, size_t digestBytes) {
  std::vector<uint8_t> rec;
  if (fid == nullptr || digestBytes % 16 != 0 || (digestBytes != 0 && digests == nullptr)) return rec;
  const uint64_t body = kHashRecordBodyFixed + static_cast<uint64_t>(digestBytes);
  if (body > UINT32_MAX) return rec;
  rec.assign(kHashRecordHeaderSize + static_cast<size_t>(body), 0);
  uint8_t* b = rec.data() + kHashRecordHeaderSize;
  Put64(b, fileSize);
  std::memcpy(b + 8, fid, 16);
  if (digestBytes) std::memcpy(b + 24, digests, digestBytes);
  Put32(rec.data(), kHashRecordVersion);
  Put32(rec.data() + 4, Crc32Raw(b, static_cast<size_t>(body)));
  Put32(rec.data() + 8, static_cast<uint32_t>(body));
  return rec;
}

bool HashRecordFileSizeOk(uint64_t recordFileSize) {
  return recordFileSize > kHashRecordHeaderSize && recordFileSize <= kHashRecordMaxFileSize;
}

HashRecordCheck DecodeHashRecord(const uint8_t* data, uint64_t n, uint64_t expectedFileSize,
                                 HashRecordContents* out) {
  if (data == nullptr || !HashRecordFileSizeOk(n)) return HashRecordCheck::kBadFileSize;
  const uint32_t version = Get32(data);
  const uint32_t check = Get32(data + 4);
  const uint32_t bodyLength = Get32(data + 8);
  if (version != kHashRecordVersion || n != uint64_t{bodyLength} + kHashRecordHeaderSize)
    return HashRecordCheck::kBadHeader;
  const uint8_t* body = data + kHashRecordHeaderSize;
  if (bodyLength < kHashRecordBodyFixed || Crc32Raw(body, bodyLength) != check)
    return HashRecordCheck::kBadBody;
  HashRecordContents c;
  c.fileSize = Get64(body);
  std::memcpy(c.fid, body + 8, 16);
  if (out) {
    out->fileSize = c.fileSize;
    std::memcpy(out->fid, c.fid, 16);
    out->digests.clear();
  }
  if (c.fileSize != expectedFileSize) return HashRecordCheck::kSizeMismatch;
  const uint64_t pieces = GetPieceCount(expectedFileSize);
  if (uint64_t{bodyLength} - kHashRecordBodyFixed != 16 * pieces) return HashRecordCheck::kBadPieceCount;
  if (out) out->digests.assign(body + kHashRecordBodyFixed, body + bodyLength);
  return HashRecordCheck::kOk;
}
