// The p2s command packet: a 44-byte head (magic, IPv4 field, body length,
// check value, zeros) and a scrambled body, with the sampled CRC-32 as its
// check value; the command classes that fill the body; and the reading of a
// reply. All head numbers are big-endian. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "server/http/codec/field_list.h"
#include "server/http/codec/p2s_records.h"

namespace p2s {

constexpr size_t kHeadSize = 44;
constexpr uint32_t kMaxBodyLength = 0x100000;
constexpr uint8_t kMagic[4] = {0x16, '#', '4', 'H'};

// CRC-32 (standard reflected table, start 0xFFFFFFFF, final inversion) over
// up to ten sample bytes and then the whole body. A body under 10 bytes has
// no samples, so its value is the plain CRC-32.
uint32_t SampledCrc32(const uint8_t* body, size_t n);
// Byte i XOR (i + check mod 331 + 1) mod 256; its own inverse.
void ScrambleBody(uint8_t* body, size_t n, uint32_t check);

// The packet of a plain body: head, then the body scrambled with its check value.
serial::Bytes BuildPacket(const uint8_t* body, size_t n);
// The plain body of a packet: it must hold at least 44 + n bytes for the n
// its head announces (n at most kMaxBodyLength), carry the magic, and its
// unscrambled body must match the check value. Bytes past 44 + n are not read.
bool ReadPacket(const uint8_t* data, size_t length, serial::Bytes* body);

}  // namespace p2s

namespace Comm {

struct PacketHead {
  uint8_t magic[4] = {};
  uint32_t ipv4 = 0;        // "0.0.0.0"
  uint32_t bodyLength = 0;
  uint8_t block[32] = {};   // the check value (big-endian), then zeros
};

class BaseCommandValue {
 public:
  virtual ~BaseCommandValue() = default;
  virtual uint64_t EncodedSize() const = 0;
  // The bytes written, 0 when they do not fit.
  virtual size_t Encode(uint8_t* out, size_t room) const = 0;
  // The bytes consumed, 0 on failure.
  virtual size_t Decode(const uint8_t* in, size_t length) = 0;
};

class BaseCommand {
 public:
  virtual ~BaseCommand() = default;
  // 44 when the head is whole and carries the magic, else 0.
  virtual size_t Decode(const uint8_t* packet, size_t length);
  const PacketHead& Head() const { return head_; }
  // The encoded packet of the last Build (request side).
  const serial::Bytes& Packet() const { return packet_; }

 protected:
  PacketHead head_;
  serial::Bytes packet_;
};

}  // namespace Comm

namespace p2s {

enum : uint8_t {
  kGetByKey = 1,
  kGetByHexKey = 2,
  kSetValue = 3,
  kValidUrl = 4,
};

// Kinds 1 and 2: key form (0 raw bytes, 1 hex text decoded), key, a number, a byte.
class P2SGetValue : public Comm::BaseCommandValue {
 public:
  uint8_t form = 0;
  serial::Bytes key;
  uint64_t number = 0;
  uint8_t last = 0;
  uint64_t EncodedSize() const override;
  size_t Encode(uint8_t* out, size_t room) const override;
  size_t Decode(const uint8_t* in, size_t length) override;
};

// Kind 3: a zero byte, then the file's information as a field list.
class P2SSetValue : public Comm::BaseCommandValue {
 public:
  FileInfo info;
  uint64_t EncodedSize() const override;
  size_t Encode(uint8_t* out, size_t room) const override;
  size_t Decode(const uint8_t* in, size_t length) override;
};

// Kind 4: two byte strings.
class P2SValidUrl : public Comm::BaseCommandValue {
 public:
  serial::Bytes first, second;
  uint64_t EncodedSize() const override;
  size_t Encode(uint8_t* out, size_t room) const override;
  size_t Decode(const uint8_t* in, size_t length) override;
};

// One command: its kind byte and value make the body.
class P2SCommand : public Comm::BaseCommand {
 public:
  P2SCommand() = default;
  P2SCommand(uint8_t kind, std::unique_ptr<Comm::BaseCommandValue> value) : kind_(kind), value_(std::move(value)) {}
  // Encodes the packet; false when the body would exceed kMaxBodyLength.
  bool Build();
  // A whole request packet: the kind (1 to 4) and a value that takes the
  // rest of the body exactly. 44 + n, or 0.
  size_t Decode(const uint8_t* packet, size_t length) override;
  uint8_t Kind() const { return kind_; }
  Comm::BaseCommandValue* Value() const { return value_.get(); }

 private:
  uint8_t kind_ = 0;
  std::unique_ptr<Comm::BaseCommandValue> value_;
};

enum : uint8_t {
  kReplyOk = 1,
  kReplyRefused = 2,
  kReplyRefusedInfo = 6,
};

// The result code of a reply packet: status 1 gives 0 (its field list, which
// must take the rest of the body exactly, decoded into *info), 2 gives -700,
// 6 gives -101; an invalid packet or any other status -5.
int ReadReply(const uint8_t* data, size_t length, FileInfo* info);

}  // namespace p2s
