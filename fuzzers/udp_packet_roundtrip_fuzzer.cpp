// Round-trip target of the UDP packet layers: every command or data packet
// the builders make, bare or in the outer layer with any pad, passes the
// receiver's check with the same fields and bytes; what the builders refuse
// the receiver would have refused too.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/udp_packet.h"

using namespace p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool command = in.ConsumeBool();
  const bool outer = in.ConsumeBool();
  const uint64_t user = in.ConsumeIntegral<uint64_t>();
  const uint32_t sequence = in.ConsumeIntegral<uint32_t>();
  const uint8_t padCount = in.ConsumeIntegralInRange<uint8_t>(0, kUdpMaxPadSent);
  uint8_t hash[16] = {};
  in.ConsumeData(hash, sizeof hash);
  uint8_t pad[kUdpMaxPadSent] = {};
  in.ConsumeData(pad, padCount);
  const std::vector<uint8_t> body = in.ConsumeRemainingBytes<uint8_t>();

  std::vector<uint8_t> inner = command ? build_command_packet(user, sequence, body.data(), body.size())
                                       : build_data_packet(hash, body.data(), body.size());
  if (inner.empty()) {
    // Refused: a command body too short to carry its code or too long for
    // the outer layer, or a data packet above a datagram.
    if (command) FUZZ_CHECK(body.size() < 2 || body.size() > kUdpMaxCommandBody);
    else FUZZ_CHECK(kUdpDataHeaderSize + body.size() > kUdpMaxDatagram);
    return 0;
  }
  std::vector<uint8_t> d = inner;
  if (outer) {
    d = wrap_outer(inner, pad, padCount);
    if (d.empty()) {
      FUZZ_CHECK(1u + padCount + inner.size() > kUdpMaxOuterRest);
      return 0;
    }
  }
  const UdpChecked r = check_datagram(d.data(), d.size());
  FUZZ_CHECK(r.outer == outer);
  if (command) {
    FUZZ_CHECK(r.result == UdpCheck::kCommand);
    FUZZ_CHECK(r.user_id == user && r.sequence == sequence);
    FUZZ_CHECK(r.command == uint16_t(body[0] | body[1] << 8));
    FUZZ_CHECK(r.body_length() == body.size() && std::memcmp(r.body(), body.data(), body.size()) == 0);
  } else {
    // Data packets are not masked inside; short ones are dropped unread.
    FUZZ_CHECK(r.result == (inner.size() < kUdpMinDataPacket ? UdpCheck::kDataShort : UdpCheck::kData));
    FUZZ_CHECK(r.length == inner.size() && std::memcmp(r.packet, inner.data(), inner.size()) == 0);
    FUZZ_CHECK(std::memcmp(r.packet + 5, hash, 16) == 0);
  }
  return 0;
}
