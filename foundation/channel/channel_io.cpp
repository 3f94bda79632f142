// Frame transfer of the channel's client. A small frame goes out in one
// send, and a small reply comes in with one recv; whatever the first call
// did not move is finished step by step, so each step keeps its deadline and
// a short step is reported as that step.
#include "foundation/channel/channel_io.h"

#include <cstdlib>
#include <cstring>

#include "foundation/channel/socket_ops.h"
#include "foundation/channel/tcp_channel.h"
#include "foundation/codec/channel_frame.h"

namespace {
constexpr int32_t kStepMs = int32_t(kChannelStepTimeoutMs);
// Bodies up to this size are copied behind the header and sent in one call.
constexpr uint32_t kGatherLimit = 16 * 1024;
// Received body bytes are checked once this many have come (or the last):
// enough for the checksum's fast path, little enough to overlap the rest.
constexpr uint32_t kCheckRun = 64 * 1024;
// Body bytes the first receive takes beside the header.
constexpr uint32_t kReadAhead = 4096;
}  // namespace

FrameRecv ChannelRecvFrameInto(SOCKET s, HANDLE event, int32_t blockMs, CByteBuffer* into) {
  // The first receive takes the header and as much of the body as has come
  // with it, up to a small reply's worth: most replies need no second call.
  uint8_t first[kChannelHeaderSize + kReadAhead];
  const ULONGLONG start = GetTickCount64();
  int64_t got = TcpRecvFirst(s, first, sizeof first, kStepMs, event);
  if (got > 0 && got < int64_t(kChannelTotalSize)) {
    const int32_t left = kStepMs - int32_t(GetTickCount64() - start);
    const int64_t more = left > 0 ? TcpRecvAtLeast(s, first + got, kChannelTotalSize - uint32_t(got),
                                                   sizeof first - uint32_t(got), left, true)
                                  : 0;
    got = more < 0 ? more : got + more;
  }
  if (got < int64_t(kChannelTotalSize)) return FrameRecv::kTotalShort;
  const uint32_t total = ChannelLoadU32(first);
  if (!ChannelTotalAcceptable(total)) return FrameRecv::kBadTotal;
  const uint32_t bodyLength = total - 4;
  const uint32_t kept = into->Length();
  uint8_t* body = nullptr;
  if (bodyLength != 0 && (body = into->Extend(bodyLength)) == nullptr) return FrameRecv::kNoMemory;

  // The checksum and the body share the caller's deadline.
  const ULONGLONG blockStart = GetTickCount64();
  bool whole = true;
  if (got < int64_t(kChannelHeaderSize)) {
    const uint32_t missing = kChannelHeaderSize - uint32_t(got);
    whole = TcpRecvAtLeast(s, first + got, missing, missing, blockMs, false) == int64_t(missing);
    got = kChannelHeaderSize;
  }
  // Body bytes that came with the header; none follow a reply, which
  // answers the one request in flight.
  uint32_t done = uint32_t(got) - kChannelHeaderSize;
  if (done > bodyLength) done = bodyLength;
  if (whole && done != 0) std::memcpy(body, first + kChannelHeaderSize, done);
  // The body is unscrambled and checked piece by piece as it comes, while
  // the rest is still on its way.
  ChannelBodyCheck check(ChannelLoadU32(first + kChannelTotalSize));
  for (uint32_t checked = 0; whole && (done < bodyLength || checked < done);) {
    if (done < bodyLength) {
      const int32_t left = blockMs - int32_t(GetTickCount64() - blockStart);
      const int64_t n = left > 0 ? TcpRecvAtLeast(s, body + done, 1, bodyLength - done, left, false) : 0;
      if (n <= 0) {
        whole = false;
        break;
      }
      done += uint32_t(n);
    }
    if (done - checked >= kCheckRun || done == bodyLength) {
      check.Take(body + checked, done - checked);
      checked = done;
    }
  }
  if (!whole) {
    into->Truncate(kept);
    return FrameRecv::kBlockShort;
  }
  if (!check.Matches()) {
    into->Truncate(kept);
    return FrameRecv::kChecksumMismatch;
  }
  return FrameRecv::kOk;
}

FrameSend ChannelSendFrame(SOCKET s, uint32_t checksum, const uint8_t* body, uint32_t length, int32_t bodyMs) {
  if (length > UINT32_MAX - 4) return FrameSend::kTotalShort;
  static thread_local uint8_t staging[kChannelHeaderSize + kGatherLimit];
  ChannelStoreU32(staging, length + 4);
  ChannelStoreU32(staging + 4, checksum);
  // A small body is copied behind the header; a large one goes out beside it
  // from where it lies.
  const bool copied = length <= kGatherLimit;
  if (copied && length != 0) std::memcpy(staging + kChannelHeaderSize, body, length);
  WSABUF pieces[2] = {{kChannelHeaderSize + (copied ? length : 0), reinterpret_cast<char*>(staging)},
                      {copied ? 0 : length, reinterpret_cast<char*>(const_cast<uint8_t*>(body))}};

  // One attempt without waiting; the steps below finish what it left.
  const int64_t sent = TcpSendGatherOnce(s, pieces, copied ? 1 : 2);
  if (sent < 0) return FrameSend::kTotalShort;
  uint32_t done = uint32_t(sent);
  if (done < 4) {
    if (TcpSendExact(s, staging + done, 4 - done, kStepMs) != int64_t(4 - done)) return FrameSend::kTotalShort;
    done = 4;
  }
  if (done < 8) {
    if (TcpSendExact(s, staging + done, 8 - done, kStepMs) != int64_t(8 - done)) return FrameSend::kChecksumShort;
    done = 8;
  }
  const uint32_t bodyDone = done - 8;
  const uint32_t bodyLeft = length - bodyDone;
  if (TcpSendExact(s, body + bodyDone, bodyLeft, bodyMs) != int64_t(bodyLeft)) return FrameSend::kBodyShort;
  return FrameSend::kOk;
}
