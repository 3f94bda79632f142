// The block feeding shared by the core's MD5 and SHA-1: bytes collect in a
// 64-byte block, each full block goes through the digest's transform.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace p2p {

template <typename Transform>
void feed_blocks(uint64_t& bit_count, uint8_t block[64], const uint8_t* p, size_t n, Transform transform) {
  size_t used = (bit_count / 8) % 64;
  bit_count += uint64_t(n) * 8;
  while (n > 0) {
    const size_t take = 64 - used < n ? 64 - used : n;
    std::memcpy(block + used, p, take);
    used += take;
    p += take;
    n -= take;
    if (used == 64) {
      transform(block);
      used = 0;
    }
  }
}

}  // namespace p2p
