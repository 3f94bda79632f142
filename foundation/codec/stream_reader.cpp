// CStreamReader: bounds are checked in 64-bit arithmetic against what
// remains, so no length from a peer can wrap a check around.
#include "foundation/codec/stream_reader.h"

#include <cstring>

CStreamReader::CStreamReader(const void* data, uint32_t size)
    : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}

void CStreamReader::Reset() { position_ = counter_ = 0; }

void CStreamReader::Advance(uint64_t n) {
  const uint64_t next = uint64_t(position_) + n;
  position_ = next > UINT32_MAX ? UINT32_MAX : uint32_t(next);
}

void CStreamReader::ReadBytes(void* destination, int32_t n) {
  if (n <= 0) return;
  if (Has(uint32_t(n)))
    std::memcpy(destination, data_ + position_, uint32_t(n));
  else
    std::memset(destination, 0, uint32_t(n));
  Advance(uint32_t(n));
}

uint64_t CStreamReader::ReadValue(uint32_t n) {
  uint64_t value = 0;
  if (n != 0 && Has(n)) {
    const uint32_t used = n < 8 ? n : 8;
    for (uint32_t i = 0; i < used; ++i) value |= uint64_t(data_[position_ + i]) << (8 * i);
  }
  Advance(n);
  return value;
}

void CStreamReader::Skip(int32_t n) {
  if (n >= 0)
    Advance(uint32_t(n));
  else
    position_ = size_ == UINT32_MAX ? UINT32_MAX : size_ + 1;
}

std::string CStreamReader::ReadString() {
  int32_t length = int32_t(ReadUInt32());
  if (length < 0) length = 0;
  if (uint32_t(length) > kMaxStringLength) length = kMaxStringLength;
  if (length == 0 || !Has(uint32_t(length))) {
    Advance(uint32_t(length));
    return std::string();
  }
  const char* text = reinterpret_cast<const char*>(data_ + position_);
  const void* zero = std::memchr(text, 0, uint32_t(length));
  std::string result(text, zero ? static_cast<const char*>(zero) - text : length);
  Advance(uint32_t(length));
  return result;
}
