// Fuzz target: the bytes of a p2s packet, read as a reply (status and file
// information) and as a request command. A packet is read only when it
// holds its whole announced body, and the result is one of the reply codes.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "server/http/codec/byte_order.h"
#include "server/http/codec/http_codes.h"
#include "server/http/codec/p2s_packet.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> packet(data, data + size);
  serial::Bytes body;
  if (p2s::ReadPacket(packet.data(), packet.size(), &body)) {
    FUZZ_CHECK(packet.size() >= p2s::kHeadSize + body.size());
    FUZZ_CHECK(body.size() == GetBe32(packet.data() + 8) && body.size() <= p2s::kMaxBodyLength);
  }
  p2s::FileInfo info;
  const int code = p2s::ReadReply(packet.data(), packet.size(), &info);
  FUZZ_CHECK(code == kHttpOk || code == kHttpBadReply || code == kP2sRefused || code == kP2sRefusedInfo);
  p2s::P2SCommand command;
  const size_t used = command.Decode(packet.data(), packet.size());
  if (used) {
    FUZZ_CHECK(used <= packet.size() && command.Kind() >= 1 && command.Kind() <= 4 && command.Value());
  }
  return 0;
}
