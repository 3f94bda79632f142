// The p2s command packet, its checksum and scrambling, the command values
// and the reply.
#include "server/http/codec/p2s_packet.h"

#include <cstring>

#include "foundation/codec/crc32.h"
#include "server/http/codec/byte_order.h"
#include "server/http/codec/http_codes.h"

namespace p2s {

namespace {
constexpr uint8_t kSampleOffsets[10] = {7, 3, 2, 0, 1, 6, 4, 5, 9, 8};
}

uint32_t SampledCrc32(const uint8_t* body, size_t n) {
  uint32_t reg = 0xFFFFFFFFu;
  for (size_t i = 0; i < n / 10 && i < 10; ++i) reg = Crc32Continue(reg, body + 10 * i + kSampleOffsets[i], 1);
  reg = Crc32Continue(reg, body, n);
  return ~reg;
}

void ScrambleBody(uint8_t* body, size_t n, uint32_t check) {
  const uint32_t shift = check % 331 + 1;
  for (size_t i = 0; i < n; ++i) body[i] ^= uint8_t((i + shift) & 0xFF);
}

serial::Bytes BuildPacket(const uint8_t* body, size_t n) {
  serial::Bytes packet(kHeadSize + n, 0);
  std::memcpy(packet.data(), kMagic, 4);
  PutBe32(packet.data() + 4, 0);
  PutBe32(packet.data() + 8, uint32_t(n));
  if (n) std::memcpy(packet.data() + kHeadSize, body, n);
  const uint32_t check = SampledCrc32(packet.data() + kHeadSize, n);
  ScrambleBody(packet.data() + kHeadSize, n, check);
  PutBe32(packet.data() + 12, check);
  return packet;
}

bool ReadPacket(const uint8_t* data, size_t length, serial::Bytes* body) {
  if (!data || length < kHeadSize || std::memcmp(data, kMagic, 4) != 0) return false;
  const uint32_t n = GetBe32(data + 8);
  if (n > kMaxBodyLength || length - kHeadSize < n) return false;
  const uint32_t check = GetBe32(data + 12);
  serial::Bytes plain(data + kHeadSize, data + kHeadSize + n);
  ScrambleBody(plain.data(), plain.size(), check);
  if (SampledCrc32(plain.data(), plain.size()) != check) return false;
  *body = std::move(plain);
  return true;
}

}  // namespace p2s

namespace Comm {

size_t BaseCommand::Decode(const uint8_t* packet, size_t length) {
  if (!packet || length < p2s::kHeadSize || std::memcmp(packet, p2s::kMagic, 4) != 0) return 0;
  std::memcpy(head_.magic, packet, 4);
  head_.ipv4 = GetBe32(packet + 4);
  head_.bodyLength = GetBe32(packet + 8);
  std::memcpy(head_.block, packet + 12, 32);
  return p2s::kHeadSize;
}

}  // namespace Comm

namespace p2s {

uint64_t P2SGetValue::EncodedSize() const { return 1 + 4 + uint64_t(key.size()) + 8 + 1; }

size_t P2SGetValue::Encode(uint8_t* out, size_t room) const {
  const uint64_t size = EncodedSize();
  if (size > room || key.size() > UINT32_MAX) return 0;
  out[0] = form;
  serial::Bytes copy = key;
  serial::Field<serial::Bytes>(&copy).Encode(out + 1, room - 1);
  const size_t at = 1 + 4 + key.size();
  PutLe(out + at, number, 8);
  out[at + 8] = last;
  return size_t(size);
}

size_t P2SGetValue::Decode(const uint8_t* in, size_t length) {
  if (length < 1) return 0;
  form = in[0];
  const size_t used = serial::Field<serial::Bytes>(&key).Decode(in + 1, length - 1);
  if (used == 0 || length - 1 - used < 9) return 0;
  number = GetLe(in + 1 + used, 8);
  last = in[1 + used + 8];
  return 1 + used + 9;
}

uint64_t P2SSetValue::EncodedSize() const { return 1 + serial::RecordSize(info); }

size_t P2SSetValue::Encode(uint8_t* out, size_t room) const {
  const uint64_t size = EncodedSize();
  if (size > room) return 0;
  out[0] = 0;
  return serial::EncodeRecord(info, out + 1, room - 1) + 1 == size ? size_t(size) : 0;
}

size_t P2SSetValue::Decode(const uint8_t* in, size_t length) {
  if (length < 1 || in[0] != 0) return 0;
  return DecodeFileInfo(&info, in + 1, length - 1) ? length : 0;
}

uint64_t P2SValidUrl::EncodedSize() const { return 8 + uint64_t(first.size()) + second.size(); }

size_t P2SValidUrl::Encode(uint8_t* out, size_t room) const {
  const uint64_t size = EncodedSize();
  if (size > room) return 0;
  serial::Bytes a = first, b = second;
  const size_t used = serial::Field<serial::Bytes>(&a).Encode(out, room);
  if (used == 0) return 0;
  return used + serial::Field<serial::Bytes>(&b).Encode(out + used, room - used) == size ? size_t(size) : 0;
}

size_t P2SValidUrl::Decode(const uint8_t* in, size_t length) {
  const size_t a = serial::Field<serial::Bytes>(&first).Decode(in, length);
  if (a == 0) return 0;
  const size_t b = serial::Field<serial::Bytes>(&second).Decode(in + a, length - a);
  return b == 0 ? 0 : a + b;
}

bool P2SCommand::Build() {
  packet_.clear();
  if (!value_) return false;
  const uint64_t valueSize = value_->EncodedSize();
  if (1 + valueSize > kMaxBodyLength) return false;
  serial::Bytes body(size_t(1 + valueSize));
  body[0] = kind_;
  if (value_->Encode(body.data() + 1, body.size() - 1) != valueSize) return false;
  packet_ = BuildPacket(body.data(), body.size());
  Comm::BaseCommand::Decode(packet_.data(), packet_.size());
  return true;
}

size_t P2SCommand::Decode(const uint8_t* packet, size_t length) {
  serial::Bytes body;
  if (!Comm::BaseCommand::Decode(packet, length) || !ReadPacket(packet, length, &body) || body.empty()) return 0;
  std::unique_ptr<Comm::BaseCommandValue> value;
  switch (body[0]) {
    case kGetByKey:
    case kGetByHexKey:
      value.reset(new P2SGetValue);
      break;
    case kSetValue:
      value.reset(new P2SSetValue);
      break;
    case kValidUrl:
      value.reset(new P2SValidUrl);
      break;
    default:
      return 0;
  }
  if (value->Decode(body.data() + 1, body.size() - 1) != body.size() - 1) return 0;
  kind_ = body[0];
  value_ = std::move(value);
  return kHeadSize + body.size();
}

int ReadReply(const uint8_t* data, size_t length, FileInfo* info) {
  serial::Bytes body;
  if (!ReadPacket(data, length, &body) || body.empty()) return kHttpBadReply;
  switch (body[0]) {
    case kReplyOk:
      return DecodeFileInfo(info, body.data() + 1, body.size() - 1) ? kHttpOk : kHttpBadReply;
    case kReplyRefused:
      return kP2sRefused;
    case kReplyRefusedInfo:
      return kP2sRefusedInfo;
    default:
      return kHttpBadReply;
  }
}

}  // namespace p2s
