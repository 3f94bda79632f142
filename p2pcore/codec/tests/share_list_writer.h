// Test-only writer of share-list files: builds valid files from records and
// offers the damage the reader must survive. Platform-free.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "p2pcore/codec/share_list_file.h"

namespace p2p_test {

p2p::share_list_record make_record(uint64_t size, uint8_t fid_seed, const std::string& path,
                                   uint64_t last_write = 0, uint32_t last_access = 0);

// A whole file: magic, seed, check value and the scrambled records, with
// `trailing` zero bytes after them inside the checked payload.
std::vector<uint8_t> write_share_list(const std::vector<p2p::share_list_record>& records, bool new_pattern = true,
                                      uint32_t seed = 0x1234567, size_t trailing = 0);

}  // namespace p2p_test
