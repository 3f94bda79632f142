// Fuzz target: a client's bytes as the channel's server gathers them, fed in
// pieces of a size the input picks. Every request the connection gives out
// is the frame that a plain walk of the stream finds at the same place, a
// refused total is one the walk refuses too, and each request's reply goes
// out, in sends of the size the input picks, as the whole-body encoder
// frames it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/codec/channel_connection.h"
#include "foundation/codec/channel_frame.h"
#include "foundation/codec/crc32.h"
#include "foundation/codec/tests/channel_reply_drain.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (IpcBuildMask(), true);
  (void)ready;
  FuzzedDataProvider in(data, size);
  const uint32_t piece = in.ConsumeIntegralInRange<uint32_t>(1, 5000);
  const uint32_t sendSize = in.ConsumeIntegralInRange<uint32_t>(1, 5000);
  const std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();

  ChannelConnection c;
  size_t fed = 0, walked = 0;  // bytes given to the connection; where the walk stands
  uint64_t now = 0;
  for (;;) {
    const ChannelConnection::Request state = c.Check();
    if (state == ChannelConnection::Request::kBadTotal) {
      FUZZ_CHECK(stream.size() - walked >= kChannelTotalSize);
      FUZZ_CHECK(!ChannelTotalAcceptable(ChannelLoadU32(stream.data() + walked), kChannelMaxRequestTotal));
      return 0;
    }
    if (state == ChannelConnection::Request::kReady) {
      const uint32_t total = ChannelLoadU32(stream.data() + walked);
      FUZZ_CHECK(ChannelTotalAcceptable(total, kChannelMaxRequestTotal));
      FUZZ_CHECK(c.RequestLength() == total - 4);
      FUZZ_CHECK(c.RequestChecksum() == ChannelLoadU32(stream.data() + walked + 4));
      FUZZ_CHECK(std::equal(c.RequestBody(), c.RequestBody() + c.RequestLength(), stream.begin() + walked + 8));
      walked += kChannelTotalSize + total;
      // The request's own bytes stand in for a reply.
      std::vector<uint8_t> plain(c.RequestBody(), c.RequestBody() + c.RequestLength());
      std::vector<uint8_t> expected = plain;
      const uint32_t checksum = IpcEncodeBody(expected.data(), uint32_t(expected.size()));
      std::vector<uint8_t> body = plain;
      c.StartReply(body.data(), uint32_t(body.size()), Crc32Update(plain.data(), plain.size()), ++now);
      const std::vector<uint8_t> out = DrainReply(c, sendSize, ++now);
      FUZZ_CHECK(!c.Sending());
      FUZZ_CHECK(out.size() == kChannelHeaderSize + expected.size());
      FUZZ_CHECK(ChannelLoadU32(out.data()) == expected.size() + 4 && ChannelLoadU32(out.data() + 4) == checksum);
      FUZZ_CHECK(std::equal(expected.begin(), expected.end(), out.begin() + kChannelHeaderSize));
      continue;
    }
    if (fed == stream.size()) break;
    FUZZ_CHECK(c.RecvRoom() > 0);
    const uint32_t n = uint32_t(std::min<size_t>({piece, stream.size() - fed, c.RecvRoom()}));
    std::copy(stream.begin() + fed, stream.begin() + fed + n, c.RecvSpace());
    c.Received(n, ++now);
    fed += n;
  }
  // All bytes in and no whole frame left: what remains is the start of one.
  const size_t left = stream.size() - walked;
  FUZZ_CHECK(left < kChannelTotalSize || left < kChannelTotalSize + ChannelLoadU32(stream.data() + walked));
  FUZZ_CHECK((c.Step() == ChannelStep::kIdle) == (left == 0));
  return 0;
}
