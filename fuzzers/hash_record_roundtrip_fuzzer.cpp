// Round-trip target of the hash record: any file size, fid and digests,
// encoded, read back whole; it passes with the same contents exactly when
// it holds one digest per piece, and any changed byte is refused.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/hash/codec/hash_record.h"
#include "server/hash/codec/piece_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const uint64_t fileSize = in.ConsumeIntegral<uint64_t>();
  uint8_t fid[16] = {};
  in.ConsumeData(fid, sizeof fid);
  const uint32_t flipAt = in.ConsumeIntegral<uint32_t>();
  const uint8_t flipBits = in.ConsumeIntegral<uint8_t>();
  const size_t pieces = in.ConsumeIntegralInRange<size_t>(0, 64);
  std::vector<uint8_t> digests = in.ConsumeBytes<uint8_t>(16 * pieces);
  digests.resize(16 * pieces);

  const std::vector<uint8_t> record = EncodeHashRecord(fileSize, fid, digests.data(), digests.size());
  FUZZ_CHECK(record.size() == kHashRecordHeaderSize + kHashRecordBodyFixed + digests.size());
  HashRecordContents got;
  const HashRecordCheck check = DecodeHashRecord(record.data(), record.size(), fileSize, &got);
  const bool whole = GetPieceCount(fileSize) == pieces;
  FUZZ_CHECK(check == (whole ? HashRecordCheck::kOk : HashRecordCheck::kBadPieceCount));
  FUZZ_CHECK(got.fileSize == fileSize && std::memcmp(got.fid, fid, 16) == 0);
  if (whole) FUZZ_CHECK(got.digests == digests);

  // A torn or damaged record is never taken for a good one (the 36 spare
  // header bytes carry nothing and are not read).
  if (flipBits != 0) {
    std::vector<uint8_t> damaged = record;
    size_t at = flipAt % (damaged.size() - 36);
    if (at >= 12) at += 36;
    damaged[at] ^= flipBits;
    FUZZ_CHECK(DecodeHashRecord(damaged.data(), damaged.size(), fileSize, &got) != HashRecordCheck::kOk);
  }
  const size_t cut = flipAt % record.size();
  FUZZ_CHECK(DecodeHashRecord(record.data(), cut, fileSize, &got) != HashRecordCheck::kOk);
  return 0;
}
