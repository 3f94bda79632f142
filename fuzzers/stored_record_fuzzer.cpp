// Fuzz target: rows of "ZEDURE.db" as the database hands their columns over
// (id blobs of any length, path texts of any length, numbers), made into the
// directory and file records the server keeps and sends. A record stored
// and read back is the same record.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/publish/codec/publish_records.h"

namespace {

std::u16string Units(const std::vector<uint8_t>& bytes) {
  std::u16string text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(char16_t(bytes[i] | bytes[i + 1] << 8));
  return text;
}

// A blob column: its bytes in a buffer of exactly their size, or no blob at all.
void ReadBlob(FuzzedDataProvider& in, uint8_t id[16]) {
  const std::vector<uint8_t> blob = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 40));
  const bool isNull = in.ConsumeBool();
  ReadStoredId(isNull || blob.empty() ? nullptr : blob.data(), int(blob.size()), id);
  if (!isNull && !blob.empty()) FUZZ_CHECK(std::memcmp(id, blob.data(), blob.size() < 16 ? blob.size() : 16) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  CPublishItem item;
  std::memset(&item, 0, sizeof item);
  ReadBlob(in, item.id);
  ReadBlob(in, item.fid);
  ReadBlob(in, item.sid);
  ReadBlob(in, item.dirId);
  item.fileSize = in.ConsumeIntegral<int64_t>();
  item.lastModTime = in.ConsumeIntegral<int64_t>();
  item.pubTime = in.ConsumeIntegral<int64_t>();
  item.maxConn = in.ConsumeIntegral<int32_t>();
  const std::u16string path = Units(in.ConsumeRemainingBytes<uint8_t>());

  const bool fits = SetRecordPath(item.fileName, path.data(), path.size());
  FUZZ_CHECK(fits == (path.size() < kRecordPathUnits));
  if (!fits) {
    FUZZ_CHECK(RecordPathLength(item.fileName) == 0);
    return 0;
  }
  const std::u16string text = RecordPathText(item.fileName);
  const size_t units = text.size();
  FUZZ_CHECK(units == RecordPathLength(item.fileName));
  FUZZ_CHECK(units <= path.size() && text == path.substr(0, units));
  FUZZ_CHECK(item.fileName[kRecordPathUnits - 1] == 0);

  // Stored as the server stores it (16-byte blobs, the path up to its zero) and read back.
  CPublishItem back;
  std::memset(&back, 0, sizeof back);
  ReadStoredId(item.id, 16, back.id);
  ReadStoredId(item.fid, 16, back.fid);
  ReadStoredId(item.sid, 16, back.sid);
  ReadStoredId(item.dirId, 16, back.dirId);
  back.fileSize = item.fileSize;
  back.lastModTime = item.lastModTime;
  back.pubTime = item.pubTime;
  back.maxConn = item.maxConn;
  FUZZ_CHECK(SetRecordPath(back.fileName, text.data(), units));
  FUZZ_CHECK(std::memcmp(&back, &item, sizeof item) == 0 || units < path.size());
  return 0;
}
