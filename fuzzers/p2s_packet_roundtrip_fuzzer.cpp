// Round-trip target of the p2s packet: any body comes back from its packet
// unchanged, and the packet fails its check value when one byte of it is
// altered (the first input byte picks the byte). A body that decodes as a
// command re-encodes to a body that decodes and encodes to itself.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/http/codec/p2s_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t pick = data[0];
  const serial::Bytes body(data + 1, data + size);
  if (body.size() > p2s::kMaxBodyLength) return 0;
  serial::Bytes packet = p2s::BuildPacket(body.data(), body.size());
  FUZZ_CHECK(packet.size() == p2s::kHeadSize + body.size());
  serial::Bytes back;
  FUZZ_CHECK(p2s::ReadPacket(packet.data(), packet.size(), &back) && back == body);
  if (!body.empty()) {
    serial::Bytes altered = packet;
    altered[p2s::kHeadSize + pick % body.size()] ^= 0x01;
    // One flipped bit in the body: CRC-32 sees every single-bit change.
    FUZZ_CHECK(!p2s::ReadPacket(altered.data(), altered.size(), &back));
  }
  p2s::P2SCommand command;
  if (command.Decode(packet.data(), packet.size())) {
    serial::Bytes again(size_t(command.Value()->EncodedSize()) + 1);
    again[0] = command.Kind();
    FUZZ_CHECK(command.Value()->Encode(again.data() + 1, again.size() - 1) == again.size() - 1);
    p2s::P2SCommand second;
    const serial::Bytes repacked = p2s::BuildPacket(again.data(), again.size());
    FUZZ_CHECK(second.Decode(repacked.data(), repacked.size()) == repacked.size());
    serial::Bytes third(size_t(second.Value()->EncodedSize()) + 1);
    third[0] = second.Kind();
    second.Value()->Encode(third.data() + 1, third.size() - 1);
    FUZZ_CHECK(third == again);
  }
  return 0;
}
