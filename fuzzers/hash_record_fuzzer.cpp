// Fuzz target: a hash record file under "HashSerial" as read back, checked
// against the size of the file it should describe. A record that passes
// holds exactly one digest per piece of that file, and reading it again
// from a fresh encoding of what it holds gives the same bytes.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/hash/codec/hash_record.h"
#include "server/hash/codec/piece_size.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  // Mostly the size the record claims, so that the piece check is reached.
  const bool ownSize = in.ConsumeBool();
  const uint64_t otherSize = in.ConsumeIntegral<uint64_t>();
  const std::vector<uint8_t> record = in.ConsumeRemainingBytes<uint8_t>();
  uint64_t expected = otherSize;
  if (ownSize && record.size() >= kHashRecordHeaderSize + 8) {
    std::memcpy(&expected, record.data() + kHashRecordHeaderSize, 8);  // little-endian host
  }

  HashRecordContents got;
  const HashRecordCheck check = DecodeHashRecord(record.empty() ? nullptr : record.data(), record.size(), expected, &got);
  if (check == HashRecordCheck::kBadFileSize) FUZZ_CHECK(!HashRecordFileSizeOk(record.size()));
  if (check != HashRecordCheck::kOk) {
    FUZZ_CHECK(got.digests.empty());
    return 0;
  }
  FUZZ_CHECK(got.fileSize == expected);
  FUZZ_CHECK(got.digests.size() == 16 * GetPieceCount(expected));
  // Written again it gives the same bytes, but for the 36 spare header bytes.
  std::vector<uint8_t> again = EncodeHashRecord(got.fileSize, got.fid, got.digests.data(), got.digests.size());
  FUZZ_CHECK(again.size() == record.size());
  std::copy(record.begin() + 12, record.begin() + kHashRecordHeaderSize, again.begin() + 12);
  FUZZ_CHECK(again == record);
  return 0;
}
