// Fuzz target: the bytes a control-channel peer sends, cut into frames as a
// session reads them (total, checksum, scrambled body), each body
// unscrambled and checked on its own exactly-sized copy.
#include <cstdint>
#include <algorithm>
#include <vector>

#include "foundation/codec/channel_frame.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (IpcBuildMask(), true);
  (void)ready;
  size_t at = 0;
  while (size - at >= kChannelTotalSize) {
    const uint32_t total = ChannelLoadU32(data + at);
    at += kChannelTotalSize;
    if (!ChannelTotalAcceptable(total)) return 0;  // the session drops the peer
    if (total > size - at) return 0;               // the rest never comes
    std::vector<uint8_t> block(data + at, data + at + total);
    at += total;
    const uint32_t checksum = ChannelLoadU32(block.data());
    std::vector<uint8_t> body(block.begin() + kChannelTotalSize, block.end());
    const bool ok = IpcDecodeBody(body.data(), uint32_t(body.size()), checksum);
    if (ok) {
      // A body that passes gives back the same checksum and scrambled bytes.
      std::vector<uint8_t> again = body;
      FUZZ_CHECK(IpcEncodeBody(again.data(), uint32_t(again.size())) == checksum);
      FUZZ_CHECK(std::equal(again.begin(), again.end(), block.begin() + kChannelTotalSize));
    }
  }
  return 0;
}
