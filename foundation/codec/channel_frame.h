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
// The largest request total the server accepts. Requests are a command code
// and fixed-size arguments, the longest of them the 1068-byte export
// request; a client that announces more is not speaking the protocol.
constexpr uint32_t kChannelMaxRequestTotal = 4096;

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
// Scrambles (or unscrambles) n body bytes that start at body index `at`, in
// place: the piece of a body that goes out, or comes in, on its own.
void ChannelScrambleAt(uint8_t* piece, uint32_t n, uint32_t checksum, uint32_t at);

// A received body checked piece by piece as it arrives: each piece is
// unscrambled in place and taken into the checksum, so that nothing is left
// to do over the whole body once its last byte is in.
class ChannelBodyCheck {
 public:
  explicit ChannelBodyCheck(uint32_t checksum);
  // The next n bytes of the body.
  void Take(uint8_t* piece, uint32_t n);
  // True when the bytes taken so far have the checksum of the frame.
  bool Matches() const;

 private:
  uint32_t checksum_;
  uint32_t register_;
  uint32_t taken_ = 0;
};

// A received total is usable when it has room for the checksum and stays
// within the bound (kChannelMaxTotal for replies).
inline bool ChannelTotalAcceptable(uint32_t total, uint32_t bound = kChannelMaxTotal) {
  return total >= 4 && total <= bound;
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
