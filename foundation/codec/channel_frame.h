// The control channel's frame: u32 total (4 + body length), u32 checksum of
// the plain body, then the body XOR-scrambled with the channel mask; all
// little-endian. Platform-free.
#pragma once
#include <cstdint>

constexpr uint32_t kChannelMaskSize = 1024;
// Bytes of the total field, and of the total plus the checksum.
constexpr uint32_t kChannelTotalSize = 4;
constexpr uint32_t kChannelHeaderSize = 8;
// The largest total a receiver accepts. The biggest replies are file lists
// of 617 bytes a file; this leaves room for about 435,000 files in one reply
// while keeping a stray or hostile length from claiming gigabytes.
constexpr uint32_t kChannelMaxTotal = 256u << 20;

// The process-wide mask, shared by the server and the client session.
extern uint8_t ChannelMask[kChannelMaskSize];

// Fills ChannelMask (always with the same bytes) and seeds srand with the
// current time.
void IpcBuildMask();
// Returns the checksum of the plain body, then scrambles it in place.
uint32_t IpcEncodeBody(uint8_t* body, uint32_t length);
// Unscrambles in place with the received checksum and tells whether the
// checksum of the result matches it.
bool IpcDecodeBody(uint8_t* body, uint32_t length, uint32_t checksum);

// A received total is usable when it has room for the checksum and stays
// within kChannelMaxTotal.
inline bool ChannelTotalAcceptable(uint32_t total) {
  return total >= 4 && total <= kChannelMaxTotal;
}

inline uint32_t ChannelLoadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void ChannelStoreU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
