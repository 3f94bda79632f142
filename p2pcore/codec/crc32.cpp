// The CRC-32 table and update of the upload core.
#include "p2pcore/codec/crc32.h"

namespace p2p {
namespace {
struct table_builder {
  uint32_t t[256];
  constexpr table_builder() : t{} {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
  }
};
constexpr table_builder built;
}  // namespace

const uint32_t crc32_table[256] = {
#define R(i) built.t[i]
#define R8(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7)
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef R
};

uint8_t crc32_table_byte(size_t index) {
  index %= 1024;
  return static_cast<uint8_t>(crc32_table[index / 4] >> (8 * (index % 4)));
}

uint32_t crc32_continue(uint32_t reg, const void* bytes, size_t n) {
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  for (size_t i = 0; i < n; ++i) reg = (reg >> 8) ^ crc32_table[(reg ^ p[i]) & 0xFF];
  return reg;
}

}  // namespace p2p
