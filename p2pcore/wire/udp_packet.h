// The two layers of every UDP datagram: the 20-byte command packet (protocol 1,
// CRC and mask table B), the data packet (protocol 2) and the outer layer (pad,
// CRC and mask table A), with the checks a received datagram must pass.
// Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace p2p {

inline constexpr size_t kUdpHeaderSize = 20;
inline constexpr size_t kUdpMaxDatagram = 1500;
// The receiver tries the outer layer only on 1 to 1484 bytes after the check value.
inline constexpr size_t kUdpMaxOuterRest = 1484;
inline constexpr uint8_t kUdpMaxPadAccepted = 8;
inline constexpr uint8_t kUdpMaxPadSent = 7;
inline constexpr size_t kUdpDataHeaderSize = 21;
inline constexpr size_t kUdpMinDataPacket = 36;
// Largest command body that still passes the receiver's outer check with the
// largest pad: 4 + 1 + 7 + 20 + body <= 4 + 1484.
inline constexpr size_t kUdpMaxCommandBody = kUdpMaxOuterRest - 1 - kUdpMaxPadSent - kUdpHeaderSize;

enum : uint8_t { kProtoCommand = 1, kProtoData = 2 };

// The mask tables as 1024 bytes each (256 little-endian words).
struct UdpMaskTables {
  uint8_t outer[1024];  // table A
  uint8_t inner[1024];  // table B
};
const UdpMaskTables& udp_mask_tables();

// CRC-32 of this layer: the reflected table, start 0xFFFFFFFE, no final inversion.
uint32_t udp_crc(const uint8_t* p, size_t n);

// Builds a command packet (header, then body starting with its u16 command code).
// Empty when the body is shorter than its command code or too long to pass
// the receiver's checks.
std::vector<uint8_t> build_command_packet(uint64_t user_id, uint32_t sequence, const uint8_t* body, size_t n);

// Wraps a packet in the outer layer with pad_count (0..7) pad bytes.
// Empty when the result would exceed what a receiver accepts.
std::vector<uint8_t> wrap_outer(const std::vector<uint8_t>& inner, const uint8_t* pad, uint8_t pad_count);

// Builds a data packet: protocol 2, CRC, the 16-byte file hash, the block data.
std::vector<uint8_t> build_data_packet(const uint8_t file_hash[16], const uint8_t* data, size_t n);

enum class UdpCheck {
  kCommand,          // a valid command packet
  kData,             // a valid data packet
  kBadLength,        // datagram below 20 or above 1500 bytes
  kInnerTooShort,    // outer layer valid, but what follows the pad is no whole packet
  kCommandCrc,       // command packet whose check value does not match
  kDataShort,        // data packet below 36 bytes (dropped without a log line)
  kDataCrc,          // data packet whose check value does not match
  kUnknownProtocol,  // first byte neither 1 nor 2
};

struct UdpChecked {
  UdpCheck result = UdpCheck::kBadLength;
  bool outer = false;              // the outer layer was present
  const uint8_t* packet = nullptr; // the inner packet, unmasked
  size_t length = 0;               // its length
  uint8_t protocol = 0;
  // Command packets only:
  uint64_t user_id = 0;
  uint32_t sequence = 0;
  uint16_t command = 0;
  const uint8_t* body() const { return packet + kUdpHeaderSize; }  // starts with the command code
  size_t body_length() const { return length - kUdpHeaderSize; }
};

// Checks a received datagram and unmasks it in place. Safe on any input.
UdpChecked check_datagram(uint8_t* datagram, size_t n);

}  // namespace p2p
