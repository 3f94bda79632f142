// CStreamWriter: every write checks the room left, so a record sized wrong
// by its caller is cut off instead of running past the caller's memory.
#include "foundation/codec/stream_writer.h"

#include <cstring>

CStreamWriter::CStreamWriter(void* buffer, uint32_t capacity)
    : buffer_(static_cast<uint8_t*>(buffer)), capacity_(buffer ? capacity : 0) {}

void CStreamWriter::Reset() {
  start_ = position_ = 0;
  overflowed_ = false;
}

void CStreamWriter::WriteBytes(const void* data, uint32_t n) {
  if (n == 0) return;
  if (data == nullptr || !Fits(n)) {
    overflowed_ = true;
    return;
  }
  std::memcpy(buffer_ + position_, data, n);
  position_ += n;
}

void CStreamWriter::WriteValue(uint64_t value, uint32_t n) {
  if (n == 0 || n > 8 || !Fits(n)) {
    overflowed_ = true;
    return;
  }
  for (uint32_t i = 0; i < n; ++i) buffer_[position_ + i] = uint8_t(value >> (8 * i));
  position_ += n;
}

void CStreamWriter::WriteString(std::string_view text) {
  // Length and bytes go in together or not at all.
  if (text.size() > UINT32_MAX - 4 || !Fits(4 + uint64_t(text.size()))) {
    overflowed_ = true;
    return;
  }
  WriteUInt32(uint32_t(text.size()));
  WriteBytes(text.data(), uint32_t(text.size()));
}
