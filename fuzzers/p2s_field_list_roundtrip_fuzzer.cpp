// Fuzz target: a field list as the p2s server sends it, decoded into a
// file's information. What decodes encodes again, and that encoding decodes
// and encodes to itself (encode(decode(y)) == y), unknown fields included;
// a list that does not decode leaves the record as it was.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/http/codec/p2s_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> input(data, data + size);
  p2s::FileInfo info;
  info.Set("0F0E", serial::Bytes(), 7, 0);
  const serial::Bytes before = serial::EncodeRecord(info);
  if (!p2s::DecodeFileInfo(&info, input.data(), input.size())) {
    FUZZ_CHECK(serial::EncodeRecord(info) == before);
    return 0;
  }
  const serial::Bytes y = serial::EncodeRecord(info);
  FUZZ_CHECK(!y.empty());
  p2s::FileInfo again;
  FUZZ_CHECK(p2s::DecodeFileInfo(&again, y.data(), y.size()) == y.size());
  FUZZ_CHECK(serial::EncodeRecord(again) == y);
  return 0;
}
