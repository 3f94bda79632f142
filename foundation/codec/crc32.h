// CRC-32 on the standard reflected table (polynomial 0xEDB88320), in the two
// forms the system's formats fix. Neither inverts the register at the end.
// Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

// The standard reflected table, shared by every CRC form of the program.
extern const uint32_t kCrc32Table[256];

// Control-channel checksum: register starts at 0xFFFFFFFE.
constexpr uint32_t kCrc32ChannelStart = 0xFFFFFFFEu;
uint32_t Crc32Update(const void* data, size_t length);
// Hash-record checksum: register starts at 0.
uint32_t Crc32Raw(const void* data, size_t length);
// The reflected update from any start value, without a final step.
uint32_t Crc32Continue(uint32_t reg, const void* data, size_t length);
