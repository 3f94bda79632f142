// Little-endian field writer and bounds-checked reader for the P2P wire formats.
// The reader never reads past its length: a short read yields 0 and marks it failed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace p2p {

class WireWriter {
 public:
  explicit WireWriter(size_t reserve = 0) { out_.reserve(reserve); }
  WireWriter& u8(uint8_t v) { out_.push_back(v); return *this; }
  WireWriter& u16(uint16_t v) { return le(v, 2); }
  WireWriter& u32(uint32_t v) { return le(v, 4); }
  WireWriter& u64(uint64_t v) { return le(v, 8); }
  WireWriter& bytes(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    out_.insert(out_.end(), b, b + n);
    return *this;
  }
  WireWriter& zeros(size_t n) { out_.insert(out_.end(), n, 0); return *this; }
  // A text field of fixed width: the text cut to the width, zero-padded.
  WireWriter& text(const char* s, size_t width) {
    size_t n = s ? strnlen(s, width) : 0;
    bytes(s, n);
    return zeros(width - n);
  }
  size_t size() const { return out_.size(); }
  std::vector<uint8_t> take() { return std::move(out_); }

 private:
  WireWriter& le(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) out_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<uint8_t> out_;
};

class WireReader {
 public:
  WireReader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
  uint8_t u8() { return static_cast<uint8_t>(le(1)); }
  uint16_t u16() { return static_cast<uint16_t>(le(2)); }
  uint32_t u32() { return static_cast<uint32_t>(le(4)); }
  uint64_t u64() { return le(8); }
  void bytes(void* out, size_t n) {
    if (!need(n)) { memset(out, 0, n); return; }
    memcpy(out, p_ + pos_, n);
    pos_ += n;
  }
  void skip(size_t n) { if (need(n)) pos_ += n; }
  bool ok() const { return ok_; }
  size_t remaining() const { return n_ - pos_; }

 private:
  bool need(size_t n) {
    if (!ok_ || n > n_ - pos_) { ok_ = false; return false; }
    return true;
  }
  uint64_t le(size_t n) {
    if (!need(n)) return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p_[pos_ + i]) << (8 * i);
    pos_ += n;
    return v;
  }
  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// An unsigned little-endian field of n bytes (at most 8).
inline uint64_t load_le(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v |= static_cast<uint64_t>(p[i]) << (8 * i);
  return v;
}
inline void store_le(uint8_t* p, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t load_u32le(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void store_u32le(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace p2p
