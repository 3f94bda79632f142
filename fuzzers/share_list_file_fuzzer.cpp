// Fuzz target: the share-list files "vxpup.dat" and "vxsecushr.dat". The
// input is either a whole file, or records sealed here with a valid magic,
// seed and check value so that the record reading is reached. What is
// collected never repeats a fid or a path, and every path ends in the record.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/codec/share_list_file.h"
#include "p2pcore/codec/tests/share_list_writer.h"

using namespace p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool sealed = in.ConsumeBool();
  const size_t limit = in.ConsumeIntegralInRange<size_t>(0, 8);
  share_list_collector collector;
  size_t total = 0;
  // One or two files into one collection, as the library reads both lists.
  for (int file = 0; file < 2 && in.remaining_bytes() > 0; ++file) {
    std::vector<uint8_t> bytes;
    if (sealed) {
      const bool newPattern = in.ConsumeBool();
      const uint32_t seed = in.ConsumeIntegral<uint32_t>();
      const size_t trailing = in.ConsumeIntegralInRange<size_t>(0, 300);
      const size_t recordSize = newPattern ? kNewRecordSize : kOldRecordSize;
      std::vector<share_list_record> records;
      const size_t count = in.ConsumeIntegralInRange<size_t>(0, 6);
      for (size_t k = 0; k < count; ++k) {
        share_list_record r = {};
        const std::vector<uint8_t> raw = in.ConsumeBytes<uint8_t>(recordSize);
        if (!raw.empty()) std::memcpy(&r, raw.data(), raw.size());
        records.push_back(r);
      }
      bytes = p2p_test::write_share_list(records, newPattern, seed, trailing);
    } else {
      bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 4096));
    }
    const share_list_result r = collector.add_file(bytes.empty() ? nullptr : bytes.data(), bytes.size());
    if (r.status == share_list_status::ok) {
      FUZZ_CHECK(r.records * (r.new_pattern ? kNewRecordSize : kOldRecordSize) + kShareListHeader <= bytes.size());
      FUZZ_CHECK(r.appended <= r.records);
    } else {
      FUZZ_CHECK(r.appended == 0);
    }
    total += r.appended;
  }

  std::vector<share_list_record>& records = collector.records();
  FUZZ_CHECK(records.size() == total);
  std::set<std::string> fids, paths;
  for (const share_list_record& r : records) {
    FUZZ_CHECK(std::memchr(r.path, 0, sizeof r.path) != nullptr);
    FUZZ_CHECK(r.paused == 0);
    FUZZ_CHECK(fids.insert(std::string(reinterpret_cast<const char*>(r.fid), 16)).second);
    FUZZ_CHECK(paths.insert(r.path).second);
  }
  collector.keep_largest(limit);
  FUZZ_CHECK(records.size() == std::min(total, limit));
  if (total > limit) {
    for (size_t k = 1; k < records.size(); ++k) FUZZ_CHECK(records[k - 1].size >= records[k].size);
  }
  return 0;
}
