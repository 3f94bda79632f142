// Hash record encoding and checks. Every length in the record is checked
// against what was read before it is used.
#include "server/hash/codec/hash_record.h"

#include <cstring>

#include "foundation/codec/crc32.h"
#include "foundation/codec/stream_reader.h"
#include "foundation/codec/stream_writer.h"
#include "server/hash/codec/piece_size.h"

std::vector<uint8_t> EncodeHashRecord(uint64_t fileSize, const uint8_t fid[16],
                                      const uint8_t* digests, size_t digestBytes) {
  std::vector<uint8_t> rec;
  if (fid == nullptr || digestBytes % 16 != 0 || (digestBytes != 0 && digests == nullptr)) return rec;
  const uint64_t body = kHashRecordBodyFixed + static_cast<uint64_t>(digestBytes);
  if (body > UINT32_MAX) return rec;
  rec.assign(kHashRecordHeaderSize + static_cast<size_t>(body), 0);
  uint8_t* b = rec.data() + kHashRecordHeaderSize;
  CStreamWriter w(b, static_cast<uint32_t>(body));
  w.WriteUInt64(fileSize);
  w.WriteBytes(fid, 16);
  if (digestBytes) w.WriteBytes(digests, static_cast<uint32_t>(digestBytes));
  // The header goes in last: its check value covers the finished body.
  CStreamWriter h(rec.data(), kHashRecordHeaderSize);
  h.WriteUInt32(kHashRecordVersion);
  h.WriteUInt32(Crc32Raw(b, static_cast<size_t>(body)));
  h.WriteUInt32(static_cast<uint32_t>(body));
  return rec;
}

bool HashRecordFileSizeOk(uint64_t recordFileSize) {
  return recordFileSize > kHashRecordHeaderSize && recordFileSize <= kHashRecordMaxFileSize;
}

HashRecordCheck DecodeHashRecord(const uint8_t* data, uint64_t n, uint64_t expectedFileSize,
                                 HashRecordContents* out) {
  if (data == nullptr || !HashRecordFileSizeOk(n)) return HashRecordCheck::kBadFileSize;
  CStreamReader header(data, kHashRecordHeaderSize);
  const uint32_t version = header.ReadUInt32();
  const uint32_t check = header.ReadUInt32();
  const uint32_t bodyLength = header.ReadUInt32();
  if (version != kHashRecordVersion || n != uint64_t{bodyLength} + kHashRecordHeaderSize)
    return HashRecordCheck::kBadHeader;
  const uint8_t* body = data + kHashRecordHeaderSize;
  if (bodyLength < kHashRecordBodyFixed || Crc32Raw(body, bodyLength) != check)
    return HashRecordCheck::kBadBody;
  HashRecordContents c;
  CStreamReader reader(body, bodyLength);
  c.fileSize = reader.ReadUInt64();
  reader.ReadBytes(c.fid, 16);
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
