// Enciphered TCP stream: frame building, packing and the reassembling receiver.
#include "p2pcore/wire/tcp_stream.h"

#include <chrono>
#include <cstring>
#include <random>

#include "p2pcore/wire/wire_bytes.h"

namespace p2p {
namespace {

uint32_t next_random() {
  thread_local std::minstd_rand gen(static_cast<uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^
      std::chrono::system_clock::now().time_since_epoch().count()));
  return static_cast<uint32_t>(gen());
}

}  // namespace

void stream_cipher_init(Rc4State& st, uint32_t seed) {
  uint8_t key[4];
  store_u32le(key, seed + kStreamKeyOffset);
  rc4_init(st, key, sizeof key);
}

uint32_t random_header_length() { return next_random() % 16; }

void tcp_frame::new_frame(uint16_t command, uint32_t header_length) {
  if (header_length > kFrameMaxHeader) header_length = kFrameMaxHeader;
  command_ = command;
  buf_.assign(kFrameFixedSize + header_length, 0);
  store_u32le(buf_.data(), header_length + 4);
  buf_[4] = static_cast<uint8_t>(command);
  buf_[5] = static_cast<uint8_t>(command >> 8);
  store_u32le(buf_.data() + 6, header_length);
}

void tcp_frame::append(const void* data, size_t n) {
  if (!data || n == 0 || buf_.size() < kFrameFixedSize) return;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  buf_.insert(buf_.end(), p, p + n);
  store_u32le(buf_.data(), load_u32le(buf_.data()) + static_cast<uint32_t>(n));
}

void tcp_frame::free_frame() {
  std::vector<uint8_t>().swap(buf_);
  command_ = 0;
}

DataOutPacking::DataOutPacking() = default;
DataOutPacking::DataOutPacking(uint32_t seed) : fixed_seed_(true), seed_(seed & 0x7FFF) {}
DataOutPacking::~DataOutPacking() = default;

void DataOutPacking::pack(tcp_frame& frame) {
  std::vector<uint8_t>& buf = frame.buffer();
  if (buf.empty()) return;
  if (!state_) {
    uint32_t seed = fixed_seed_ ? seed_ : next_random() % 32768;
    state_ = std::make_unique<Rc4State>();
    stream_cipher_init(*state_, seed);
    uint8_t opening[kStreamOpeningSize];
    store_u32le(opening, seed);
    store_u32le(opening + 4, kStreamCheckValue);
    store_u32le(opening + 8, 1);
    store_u32le(opening + 12, 3);
    buf.insert(buf.begin(), opening, opening + sizeof opening);
    rc4_apply(*state_, buf.data() + 4, buf.size() - 4);
    return;
  }
  rc4_apply(*state_, buf.data(), buf.size());
}

size_t DataOutPacking::packed_size(uint32_t header_length, size_t body) const {
  if (header_length > kFrameMaxHeader) header_length = kFrameMaxHeader;
  return (state_ ? 0 : kStreamOpeningSize) + kFrameFixedSize + header_length + body;
}

size_t DataOutPacking::pack_into(uint8_t* out, size_t capacity, uint16_t command, uint32_t header_length,
                                 const uint8_t* a, size_t na, const uint8_t* b, size_t nb) {
  if (header_length > kFrameMaxHeader) header_length = kFrameMaxHeader;
  const size_t total = packed_size(header_length, na + nb);
  if (!out || total > capacity || (na && !a) || (nb && !b)) return 0;
  uint8_t* p = out;
  const bool first = !state_;
  if (first) {
    const uint32_t seed = fixed_seed_ ? seed_ : next_random() % 32768;
    state_ = std::make_unique<Rc4State>();
    stream_cipher_init(*state_, seed);
    store_u32le(p, seed);
    store_u32le(p + 4, kStreamCheckValue);
    store_u32le(p + 8, 1);
    store_u32le(p + 12, 3);
    p += kStreamOpeningSize;
  }
  store_u32le(p, static_cast<uint32_t>(header_length + 4 + na + nb));
  p[4] = static_cast<uint8_t>(command);
  p[5] = static_cast<uint8_t>(command >> 8);
  store_u32le(p + 6, header_length);
  memset(p + kFrameFixedSize, 0, header_length);
  uint8_t* body = p + kFrameFixedSize + header_length;
  if (na) memcpy(body, a, na);
  if (nb) memcpy(body + na, b, nb);
  // The seed stays plain; everything after it runs through the cipher.
  rc4_apply(*state_, out + (first ? 4 : 0), total - (first ? 4 : 0));
  return total;
}

DataInPacking::DataInPacking() = default;
DataInPacking::~DataInPacking() = default;

int16_t DataInPacking::fail(int16_t code) {
  state_ = code;
  std::vector<uint8_t>().swap(held_);
  return -1;
}

int16_t DataInPacking::unpack(uint8_t* data, size_t n) {
  if (!data || n == 0) {
    if (state_ >= 0) state_ = kStreamEmptyInput;
    return state_ < 0 ? state_ : 0;
  }
  if (state_ < 0) return state_;

  if (!cipher_) {
    uint8_t* p = data;
    size_t len = n;
    if (!held_.empty() || n < kStreamOpeningSize) {
      held_.insert(held_.end(), data, data + n);
      if (held_.size() < kStreamOpeningSize) {
        needed_ = kStreamOpeningSize - held_.size();
        state_ = kStreamOpening;
        return 0;
      }
      p = held_.data();
      len = held_.size();
    }
    cipher_ = std::make_unique<Rc4State>();
    stream_cipher_init(*cipher_, load_u32le(p));
    rc4_apply(*cipher_, p + 4, len - 4);
    if (load_u32le(p + 4) != kStreamCheckValue) return fail(kStreamBadCheck);
    if (p == held_.data()) {
      // parse() replaces held_; hand it a buffer of its own.
      std::vector<uint8_t> rest(p + kStreamOpeningSize, p + len);
      held_.clear();
      return parse(rest.data(), rest.size());
    }
    return parse(p + kStreamOpeningSize, len - kStreamOpeningSize);
  }

  rc4_apply(*cipher_, data, n);
  if (held_.empty()) return parse(data, n);
  std::vector<uint8_t> all;
  all.swap(held_);
  all.insert(all.end(), data, data + n);
  return parse(all.data(), all.size());
}

// Delivers the complete frames of p[0..n) and keeps the incomplete rest.
// All length arithmetic is in 64 bits so that no length field can wrap it.
int16_t DataInPacking::parse(uint8_t* p, size_t n) {
  size_t off = 0;
  while (n - off >= 6) {
    const uint8_t* f = p + off;
    uint64_t length = load_u32le(f);
    // No header length fits a length field below 4.
    if (length < 4) return fail(kStreamBadLength);
    if (length > kFrameMaxLength) return fail(kStreamBodyTooLarge);
    uint64_t frame_size = length + 6;
    if (frame_size > n - off) break;
    // The frame is whole, so its 10 fixed bytes are present (length >= 4).
    uint16_t command = static_cast<uint16_t>(f[4] | (f[5] << 8));
    uint64_t header = load_u32le(f + 6);
    if (header > kFrameMaxHeader) return fail(kStreamBadHeader);
    if (length < header + 4) return fail(kStreamBadLength);
    uint64_t body = length - header - 4;
    if (body > kFrameMaxBody) return fail(kStreamBodyTooLarge);
    on_frame(command, f + kFrameFixedSize + header, static_cast<uint32_t>(body));
    off += static_cast<size_t>(frame_size);
  }
  size_t rest = n - off;
  if (rest == 0) {
    std::vector<uint8_t>().swap(held_);
    needed_ = 6;
  } else {
    held_.assign(p + off, p + n);
    needed_ = rest < 6 ? 6 - rest : static_cast<uint64_t>(load_u32le(p + off)) + 6;
  }
  state_ = kStreamRunning;
  return 0;
}

}  // namespace p2p
