// Round-trip target of the control channel's frame: any body, framed as a
// sender frames it, reads back whole and unchanged; one changed byte of the
// body is caught by the checksum.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "foundation/codec/channel_frame.h"
#include "fuzzers/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = (IpcBuildMask(), true);
  (void)ready;
  FuzzedDataProvider in(data, size);
  const uint32_t flipAt = in.ConsumeIntegral<uint32_t>();
  const uint8_t flipBits = in.ConsumeIntegral<uint8_t>();
  const std::vector<uint8_t> plain = in.ConsumeRemainingBytes<uint8_t>();

  // The frame as a sender writes it.
  std::vector<uint8_t> frame(kChannelHeaderSize + plain.size());
  std::copy(plain.begin(), plain.end(), frame.begin() + kChannelHeaderSize);
  const uint32_t checksum = IpcEncodeBody(frame.data() + kChannelHeaderSize, uint32_t(plain.size()));
  const uint32_t total = uint32_t(kChannelTotalSize + plain.size());
  ChannelStoreU32(frame.data(), total);
  ChannelStoreU32(frame.data() + kChannelTotalSize, checksum);

  // Read back as a receiver reads it.
  FUZZ_CHECK(ChannelTotalAcceptable(ChannelLoadU32(frame.data())));
  std::vector<uint8_t> body(frame.begin() + kChannelHeaderSize, frame.end());
  FUZZ_CHECK(IpcDecodeBody(body.data(), uint32_t(body.size()), ChannelLoadU32(frame.data() + kChannelTotalSize)));
  FUZZ_CHECK(body == plain);

  // A CRC-32 catches every burst of up to 32 changed bits.
  if (flipBits != 0 && !plain.empty()) {
    const size_t at = kChannelHeaderSize + flipAt % plain.size();
    frame[at] ^= flipBits;
    std::vector<uint8_t> damaged(frame.begin() + kChannelHeaderSize, frame.end());
    FUZZ_CHECK(!IpcDecodeBody(damaged.data(), uint32_t(damaged.size()), ChannelLoadU32(frame.data() + kChannelTotalSize)));
  }
  return 0;
}
