// Test-only share-list writer: the inverse of the reader's descrambling,
// applied in reverse order (XOR, then rotate right).
#include "p2pcore/codec/tests/share_list_writer.h"

#include <cstring>

#include "foundation/codec/crc32.h"

namespace p2p_test {

p2p::share_list_record make_record(uint64_t size, uint8_t fid_seed, const std::string& path, uint64_t last_write,
                                   uint32_t last_access) {
  p2p::share_list_record r = {};
  r.size = size;
  for (int i = 0; i < 16; ++i) r.fid[i] = uint8_t(fid_seed + i * 7);
  r.last_write = last_write;
  r.path_length = uint8_t(path.size());
  std::strncpy(r.path, path.c_str(), sizeof r.path - 1);
  r.last_access = last_access;
  return r;
}

static void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

std::vector<uint8_t> write_share_list(const std::vector<p2p::share_list_record>& records, bool new_pattern,
                                      uint32_t seed, size_t trailing) {
  const size_t size = new_pattern ? p2p::kNewRecordSize : p2p::kOldRecordSize;
  std::vector<uint8_t> payload(records.size() * size + trailing);
  for (size_t k = 0; k < records.size(); ++k) std::memcpy(payload.data() + k * size, &records[k], size);
  const uint32_t check = Crc32Update(payload.data(), payload.size());
  for (size_t i = 0; i < payload.size(); ++i) {
    const unsigned r = 7 - unsigned(i % 7);
    uint8_t b = payload[i] ^ p2p::crc32_table_byte((size_t(seed) + i + 0x02C5) % 1024);
    payload[i] = uint8_t((b >> r) | (b << (8 - r)));
  }
  std::vector<uint8_t> file(12 + payload.size());
  std::memcpy(file.data(), new_pattern ? p2p::kShareListNewMagic : p2p::kShareListOldMagic, 4);
  put32(file, 4, seed);
  put32(file, 8, check);
  if (!payload.empty()) std::memcpy(file.data() + 12, payload.data(), payload.size());
  return file;
}

}  // namespace p2p_test
