// Sending and receiving whole channel frames on a non-blocking socket, step
// by step with each step's own deadline, in as few socket calls as the steps
// allow (the socket calls, not the bytes, are what a round trip costs).
#pragma once
#include <winsock2.h>

#include <cstdint>

#include "foundation/codec/byte_buffer.h"

// The receive block of a frame: the checksum followed by the scrambled body.
// The server keeps one and reuses its memory from frame to frame: a receive
// into freshly allocated pages costs about twice as much.
class ChannelBlock {
 public:
  // Blocks above this size are freed once their frame is handled.
  static constexpr uint32_t kKeepLimit = 4u << 20;

  ChannelBlock() = default;
  ChannelBlock(const ChannelBlock&) = delete;
  ChannelBlock& operator=(const ChannelBlock&) = delete;
  ~ChannelBlock();

  // Room for total bytes; false when the memory cannot be had.
  bool Reserve(uint32_t total);
  // Frees the memory of a large block.
  void Trim();
  uint8_t* Data() { return data_; }
  uint32_t Total() const { return total_; }
  uint32_t Checksum() const;
  uint8_t* Body() { return data_ + 4; }
  uint32_t BodyLength() const { return total_ - 4; }

 private:
  uint8_t* data_ = nullptr;
  uint32_t capacity_ = 0;
  uint32_t total_ = 0;  // checksum and body bytes of the current frame
};

enum class FrameRecv {
  kOk,
  kNothing,      // no byte of a new frame was there (the server's form only)
  kTotalShort,   // fewer than 4 bytes of the total (error, time-out, closed)
  kBadTotal,     // total below 4 or above kChannelMaxTotal
  kNoMemory,     // the block could not be allocated
  kBlockShort,   // the checksum and body did not all arrive
};

// The client's form: waits for the reply with one overlapped receive on
// `event` (an auto-reset event of its own), takes the total within the fixed
// step deadline, then the checksum and the body within blockMs, the body
// straight into the end of `into`, lengthened by its size: a large reply is
// not copied once more after it arrives. Unless the result is kOk, `into` is
// as it was.
FrameRecv ChannelRecvFrameInto(SOCKET s, HANDLE event, int32_t blockMs, CByteBuffer* into, uint32_t* checksum);

// Bytes a server read past the end of a frame: the start of the next ones
// from a client that sent them without waiting for its reply.
struct ChannelCarry {
  // A server's first receive of a frame takes up to this many bytes, so a
  // small request costs one recv instead of two.
  static constexpr uint32_t kReadAhead = 64;
  uint8_t bytes[kReadAhead];
  uint32_t length = 0;
};

// The server's form of ChannelRecvFrame (the socket reported ready): starts
// from the bytes in carry, reads ahead up to kReadAhead bytes in its first
// receive, and leaves in carry whatever followed the frame. A readiness
// report may come after its bytes were taken with the frame before, so when
// nothing is carried and nothing is there the result is kNothing at once.
FrameRecv ChannelRecvFrameAhead(SOCKET s, ChannelCarry* carry, int32_t blockMs, ChannelBlock* out);

enum class FrameSend { kOk, kTotalShort, kChecksumShort, kBodyShort };

// Sends the total and the checksum, each within the fixed step deadline,
// then the (already scrambled) body within bodyMs. Reports the first step
// that fell short.
FrameSend ChannelSendFrame(SOCKET s, uint32_t checksum, const uint8_t* body, uint32_t length, int32_t bodyMs);
