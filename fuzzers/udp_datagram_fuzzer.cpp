// Fuzz target: a UDP datagram from a P2P peer or server, checked and
// unmasked as the receiver does. The input is the datagram itself, or its
// plain layers with the check values and masks put on here, so that what
// lies behind the CRC checks (pad counts, short or odd inner packets) is
// reached too. What the check accepts lies within the datagram and is as
// long as its kind needs.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/udp_packet.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

void Mask(const uint8_t* table, uint32_t check, uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] ^= table[(check + i) & 1023];
}

// Gives a plain inner packet its check value and mask, as a sender would.
void SealInner(std::vector<uint8_t>& p) {
  if (p.size() >= 6 && p[0] == kProtoCommand) {
    const uint32_t check = udp_crc(p.data() + 6, p.size() - 6);
    Mask(udp_mask_tables().inner, check, p.data() + 6, p.size() - 6);
    store_u32le(p.data() + 2, check);
  } else if (p.size() >= 5 && p[0] == kProtoData) {
    store_u32le(p.data() + 1, udp_crc(p.data() + 5, p.size() - 5));
  }
}

// The outer layer with any pad count byte (the receiver takes 0 to 8).
std::vector<uint8_t> SealOuter(const std::vector<uint8_t>& inner, uint8_t padCount, const std::vector<uint8_t>& pad) {
  std::vector<uint8_t> d(5);
  d[4] = padCount;
  d.insert(d.end(), pad.begin(), pad.end());
  d.insert(d.end(), inner.begin(), inner.end());
  const uint32_t check = udp_crc(d.data() + 4, d.size() - 4);
  Mask(udp_mask_tables().outer, check, d.data() + 4, d.size() - 4);
  store_u32le(d.data(), check);
  return d;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const int layers = in.ConsumeIntegralInRange(0, 2);  // as is, inner sealed, both sealed
  std::vector<uint8_t> d;
  if (layers == 2) {
    const uint8_t padCount = in.ConsumeIntegralInRange<uint8_t>(0, 10);
    const std::vector<uint8_t> pad = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 10));
    std::vector<uint8_t> inner = in.ConsumeRemainingBytes<uint8_t>();
    SealInner(inner);
    d = SealOuter(inner, padCount, pad);
  } else {
    d = in.ConsumeRemainingBytes<uint8_t>();
    if (layers == 1) SealInner(d);
  }

  const size_t n = d.size();
  const UdpChecked r = check_datagram(d.empty() ? nullptr : d.data(), n);
  if (r.result == UdpCheck::kBadLength) {
    FUZZ_CHECK(n < kUdpHeaderSize || n > kUdpMaxDatagram);
    return 0;
  }
  FUZZ_CHECK(n >= kUdpHeaderSize && n <= kUdpMaxDatagram);
  FUZZ_CHECK(r.packet >= d.data() && r.packet + r.length <= d.data() + n);
  FUZZ_CHECK(r.outer || r.packet == d.data());
  switch (r.result) {
    case UdpCheck::kCommand:
      FUZZ_CHECK(r.protocol == kProtoCommand && r.length >= kUdpHeaderSize + 2);
      FUZZ_CHECK(r.command == uint16_t(r.body()[0] | r.body()[1] << 8));
      break;
    case UdpCheck::kData:
      FUZZ_CHECK(r.protocol == kProtoData && r.length >= kUdpMinDataPacket);
      FUZZ_CHECK(udp_crc(r.packet + 5, r.length - 5) == load_u32le(r.packet + 1));
      break;
    case UdpCheck::kDataShort:
      FUZZ_CHECK(r.protocol == kProtoData && r.length < kUdpMinDataPacket);
      break;
    default:
      break;
  }
  return 0;
}
