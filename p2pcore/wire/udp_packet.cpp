// UDP packet layers: building, wrapping and checking datagrams.
#include "p2pcore/wire/udp_packet.h"

#include "foundation/codec/crc32.h"
#include "p2pcore/wire/udp_mask_salt.h"
#include "p2pcore/wire/wire_bytes.h"

#include <cstring>

namespace p2p {
namespace {

UdpMaskTables build_tables() {
  UdpMaskTables t{};
  for (int i = 0; i < 256; ++i) {
    // The salt enters in reverse order.
    uint32_t a = (kCrc32Table[i] >> 16) + kUdpMaskSalt[255 - i];
    uint32_t b = (kCrc32Table[i] >> 8) + kUdpMaskSalt[255 - i];
    store_u32le(t.outer + 4 * i, a);
    store_u32le(t.inner + 4 * i, b);
  }
  return t;
}

void apply_mask(const uint8_t* table, uint32_t check, uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] ^= table[(check + i) & 1023];
}

// CRC of the bytes as they are once unmasked, without touching them, so that a
// failed outer check leaves the datagram intact for the inner check.
uint32_t masked_crc(const uint8_t* table, uint32_t check, const uint8_t* p, size_t n) {
  uint32_t reg = 0xFFFFFFFEu;
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = p[i] ^ table[(check + i) & 1023];
    reg = (reg >> 8) ^ kCrc32Table[(reg ^ b) & 0xFF];
  }
  return reg;
}

UdpChecked check_inner(uint8_t* p, size_t n, bool outer) {
  UdpChecked r;
  r.outer = outer;
  r.packet = p;
  r.length = n;
  if (n < kUdpHeaderSize) {
    r.result = UdpCheck::kInnerTooShort;
    return r;
  }
  r.protocol = p[0];
  const UdpMaskTables& t = udp_mask_tables();
  if (p[0] == kProtoCommand) {
    uint32_t check = load_u32le(p + 2);
    if (masked_crc(t.inner, check, p + 6, n - 6) != check) {
      r.result = UdpCheck::kCommandCrc;
      return r;
    }
    apply_mask(t.inner, check, p + 6, n - 6);
    // A command packet must hold at least the command code after its header.
    if (n < kUdpHeaderSize + 2) {
      r.result = UdpCheck::kInnerTooShort;
      return r;
    }
    WireReader rd(p + 6, n - 6);
    r.user_id = rd.u64();
    r.sequence = rd.u32();
    r.command = static_cast<uint16_t>(p[20] | (p[21] << 8));
    r.result = UdpCheck::kCommand;
    return r;
  }
  if (p[0] == kProtoData) {
    if (n < kUdpMinDataPacket) {
      r.result = UdpCheck::kDataShort;
      return r;
    }
    r.result = udp_crc(p + 5, n - 5) == load_u32le(p + 1) ? UdpCheck::kData : UdpCheck::kDataCrc;
    return r;
  }
  r.result = UdpCheck::kUnknownProtocol;
  return r;
}

}  // namespace

const UdpMaskTables& udp_mask_tables() {
  static const UdpMaskTables tables = build_tables();
  return tables;
}

uint32_t udp_crc(const uint8_t* p, size_t n) { return Crc32Update(p, n); }

std::vector<uint8_t> build_command_packet(uint64_t user_id, uint32_t sequence, const uint8_t* body, size_t n) {
  // Below the 2-byte command code the receiver drops the packet.
  if (!body || n < 2 || n > kUdpMaxCommandBody) return {};
  WireWriter w(kUdpHeaderSize + n);
  w.u8(kProtoCommand).u8(1).u32(0).u64(user_id).u32(sequence).u8(1).u8(0).bytes(body, n);
  std::vector<uint8_t> p = w.take();
  uint32_t check = udp_crc(p.data() + 6, p.size() - 6);
  apply_mask(udp_mask_tables().inner, check, p.data() + 6, p.size() - 6);
  store_u32le(p.data() + 2, check);
  return p;
}

std::vector<uint8_t> wrap_outer(const std::vector<uint8_t>& inner, const uint8_t* pad, uint8_t pad_count) {
  if (pad_count > kUdpMaxPadSent || (pad_count && !pad)) return {};
  size_t rest = 1 + pad_count + inner.size();
  if (inner.empty() || rest > kUdpMaxOuterRest) return {};
  std::vector<uint8_t> d(4 + rest);
  d[4] = pad_count;
  if (pad_count) memcpy(d.data() + 5, pad, pad_count);
  memcpy(d.data() + 5 + pad_count, inner.data(), inner.size());
  uint32_t check = udp_crc(d.data() + 4, rest);
  apply_mask(udp_mask_tables().outer, check, d.data() + 4, rest);
  store_u32le(d.data(), check);
  return d;
}

std::vector<uint8_t> build_data_packet(const uint8_t file_hash[16], const uint8_t* data, size_t n) {
  if (!file_hash || (n && !data) || kUdpDataHeaderSize + n > kUdpMaxDatagram) return {};
  WireWriter w(kUdpDataHeaderSize + n);
  w.u8(kProtoData).u32(0).bytes(file_hash, 16);
  if (n) w.bytes(data, n);
  std::vector<uint8_t> p = w.take();
  store_u32le(p.data() + 1, udp_crc(p.data() + 5, p.size() - 5));
  return p;
}

UdpChecked check_datagram(uint8_t* d, size_t n) {
  UdpChecked r;
  if (!d || n < kUdpHeaderSize || n > kUdpMaxDatagram) {
    r.result = UdpCheck::kBadLength;
    r.length = n;
    return r;
  }
  size_t rest = n - 4;
  if (rest >= 1 && rest <= kUdpMaxOuterRest) {
    const uint8_t* table = udp_mask_tables().outer;
    uint32_t check = load_u32le(d);
    if (masked_crc(table, check, d + 4, rest) == check) {
      uint8_t pad = d[4] ^ table[check & 1023];
      if (pad <= kUdpMaxPadAccepted) {
        apply_mask(table, check, d + 4, rest);
        // The pad and the inner packet must lie within what remains.
        if (1u + pad > rest) {
          r.result = UdpCheck::kInnerTooShort;
          r.outer = true;
          return r;
        }
        return check_inner(d + 5 + pad, rest - 1 - pad, true);
      }
    }
  }
  return check_inner(d, n, false);
}

}  // namespace p2p
