// CRC-32 forms of the control channel and of the hash records.
#include "foundation/codec/crc32.h"

namespace {
struct Crc32TableBuilder {
  uint32_t t[256];
  constexpr Crc32TableBuilder() : t{} {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
  }
};
constexpr Crc32TableBuilder kBuilt;
}  // namespace

const uint32_t kCrc32Table[256] = {
#define R(i) kBuilt.t[i]
#define R8(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7)
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef R
};

uint32_t Crc32Continue(uint32_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) reg = (reg >> 8) ^ kCrc32Table[(reg ^ p[i]) & 0xFF];
  return reg;
}

uint32_t Crc32Update(const void* data, size_t length) { return Crc32Continue(0xFFFFFFFEu, data, length); }

uint32_t Crc32Raw(const void* data, size_t length) { return Crc32Continue(0, data, length); }
