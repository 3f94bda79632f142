// Fuzz target: a UDP datagram from a P2P peer or server, checked and
// unmasked as the receiver does; what the check accepts must lie within the
// datagram and be as long as its kind needs.
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/udp_packet.h"

using namespace p2p;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> d(data, data + size);
  const UdpChecked r = check_datagram(d.data(), d.size());
  if (r.result == UdpCheck::kBadLength) {
    FUZZ_CHECK(size < kUdpHeaderSize || size > kUdpMaxDatagram);
    return 0;
  }
  FUZZ_CHECK(size >= kUdpHeaderSize && size <= kUdpMaxDatagram);
  FUZZ_CHECK(r.packet >= d.data() && r.packet + r.length <= d.data() + d.size());
  FUZZ_CHECK(r.outer || r.packet == d.data());
  switch (r.result) {
    case UdpCheck::kCommand:
      FUZZ_CHECK(r.protocol == kProtoCommand && r.length >= kUdpHeaderSize + 2);
      FUZZ_CHECK(r.command == uint16_t(r.body()[0] | r.body()[1] << 8));
      break;
    case UdpCheck::kData:
      FUZZ_CHECK(r.protocol == kProtoData && r.length >= kUdpMinDataPacket);
      FUZZ_CHECK(udp_crc(r.packet + 5, r.length - 5) ==
                 uint32_t(r.packet[1] | r.packet[2] << 8 | r.packet[3] << 16 | uint32_t(r.packet[4]) << 24));
      break;
    case UdpCheck::kDataShort:
      FUZZ_CHECK(r.protocol == kProtoData && r.length < kUdpMinDataPacket);
      break;
    default:
      break;
  }
  return 0;
}
