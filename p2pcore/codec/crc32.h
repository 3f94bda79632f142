// CRC-32 of the upload core: the standard reflected table (polynomial
// 0xEDB88320), started at 0xFFFFFFFE, never inverted. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

namespace p2p {

extern const uint32_t crc32_table[256];

// The table as 1024 bytes in little-endian order (share-list descrambling).
uint8_t crc32_table_byte(size_t index);

uint32_t crc32_continue(uint32_t reg, const void* bytes, size_t n);
inline uint32_t crc32_update(const void* bytes, size_t n) { return crc32_continue(0xFFFFFFFEu, bytes, n); }

}  // namespace p2p
