// Share-list file reading: checks in the order the files were always
// checked (size, magic, record count, check value), then the records.
#include "p2pcore/codec/share_list_file.h"

#include <algorithm>
#include <cstring>

#include "foundation/codec/crc32.h"

namespace p2p {

const uint8_t kShareListNewMagic[4] = {'V', 'X', 0x00, 0x01};
const uint8_t kShareListOldMagic[4] = {'A', 'C', 0x00, 0x01};

uint8_t crc32_table_byte(size_t index) {
  index %= 1024;
  return static_cast<uint8_t>(kCrc32Table[index / 4] >> (8 * (index % 4)));
}

void share_list_descramble(uint8_t* payload, size_t n, uint32_t seed) {
  for (size_t i = 0; i < n; ++i) {
    const unsigned r = 7 - unsigned(i % 7);
    uint8_t b = payload[i];
    b = uint8_t((b << r) | (b >> (8 - r)));
    payload[i] = b ^ crc32_table_byte((size_t(seed) + i + 0x02C5) % 1024);
  }
}

static uint32_t le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

share_list_result share_list_collector::add_file(const uint8_t* bytes, size_t n) {
  share_list_result result;
  if (n > kShareListMaxFile) { result.status = share_list_status::too_big; return result; }
  if (n <= kShareListHeader) { result.status = share_list_status::no_data; return result; }
  size_t record_size;
  if (std::memcmp(bytes, kShareListNewMagic, 4) == 0) {
    record_size = kNewRecordSize;
    result.new_pattern = true;
  } else if (std::memcmp(bytes, kShareListOldMagic, 4) == 0) {
    record_size = kOldRecordSize;
  } else {
    result.status = share_list_status::unknown_pattern;
    return result;
  }
  // Count only what follows the 12-byte header.
  result.records = (n - kShareListHeader) / record_size;
  if (result.records == 0) { result.status = share_list_status::bad_size; return result; }

  std::vector<uint8_t> payload(bytes + kShareListHeader, bytes + n);
  share_list_descramble(payload.data(), payload.size(), le32(bytes + 4));
  if (Crc32Update(payload.data(), payload.size()) != le32(bytes + 8)) {
    result.status = share_list_status::bad_check;
    return result;
  }

  records_.reserve(records_.size() + size_t(result.records));
  for (uint64_t k = 0; k < result.records; ++k) {
    share_list_record record = {};
    std::memcpy(&record, payload.data() + k * record_size, record_size);
    record.path[sizeof record.path - 1] = 0;
    record.paused = 0;
    if (!result.new_pattern) record.last_access = 0;
    std::string fid(reinterpret_cast<const char*>(record.fid), 16);
    std::string path(record.path);
    if (fids_.count(fid) || paths_.count(path)) continue;
    fids_.insert(std::move(fid));
    paths_.insert(std::move(path));
    records_.push_back(record);
    ++result.appended;
  }
  return result;
}

void share_list_collector::keep_largest(size_t limit) {
  if (records_.size() <= limit) return;
  std::stable_sort(records_.begin(), records_.end(),
                   [](const share_list_record& a, const share_list_record& b) { return a.size > b.size; });
  records_.resize(limit);
}

}  // namespace p2p
