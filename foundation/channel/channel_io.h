// The client's sending and receiving of whole channel frames on a
// non-blocking socket, step by step with each step's own deadline, in as few
// socket calls as the steps allow (the socket calls, not the bytes, are what
// a round trip costs).
#pragma once
#include <winsock2.h>

#include <cstdint>

#include "foundation/codec/byte_buffer.h"

enum class FrameRecv {
  kOk,
  kTotalShort,   // fewer than 4 bytes of the total (error, time-out, closed)
  kBadTotal,     // total below 4 or above kChannelMaxTotal
  kNoMemory,     // the block could not be allocated
  kBlockShort,   // the checksum and body did not all arrive
  kChecksumMismatch,  // they did, and the body does not have its checksum
};

// The client's form: waits for the reply with overlapped receives on
// `event` (an auto-reset event of its own), takes the total within the fixed
// step deadline, then the checksum and the body within blockMs, the body
// straight into the end of `into`, lengthened by its size, unscrambled and
// checked as it comes: a large reply is neither copied nor gone over once
// more after it arrives. Unless the result is kOk, `into` is as it was.
FrameRecv ChannelRecvFrameInto(SOCKET s, HANDLE event, int32_t blockMs, CByteBuffer* into);

enum class FrameSend { kOk, kTotalShort, kChecksumShort, kBodyShort };

// Sends the total and the checksum, each within the fixed step deadline,
// then the (already scrambled) body within bodyMs. Reports the first step
// that fell short.
FrameSend ChannelSendFrame(SOCKET s, uint32_t checksum, const uint8_t* body, uint32_t length, int32_t bodyMs);
