// CStreamWriter: lays fixed-width little-endian values and length-prefixed
// strings one after another into memory the caller owns. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

class CStreamWriter {
 public:
  CStreamWriter(void* buffer, uint32_t capacity);
  ~CStreamWriter() = default;
  CStreamWriter(const CStreamWriter&) = delete;
  CStreamWriter& operator=(const CStreamWriter&) = delete;

  void Reset();
  // The bytes written since construction or the last reset.
  uint32_t GetLength() const { return position_ - start_; }

  // A write that does not fit in the capacity writes nothing, leaves the
  // position where it was and marks the writer as overflowed.
  void WriteBytes(const void* data, uint32_t n);
  // The low n bytes (1 to 8) of value, least significant first.
  void WriteValue(uint64_t value, uint32_t n);
  void WriteUInt8(uint8_t v) { WriteValue(v, 1); }
  void WriteUInt16(uint16_t v) { WriteValue(v, 2); }
  void WriteUInt32(uint32_t v) { WriteValue(v, 4); }
  void WriteUInt64(uint64_t v) { WriteValue(v, 8); }
  // u32 byte length, then the bytes without a terminating zero.
  void WriteString(std::string_view text);

  bool Overflowed() const { return overflowed_; }
  uint8_t* Buffer() { return buffer_; }
  uint8_t* WritePointer() { return buffer_ + position_; }

 private:
  bool Fits(uint64_t n) const { return position_ + n <= capacity_; }

  uint8_t* buffer_;
  uint32_t start_ = 0;
  uint32_t position_ = 0;
  uint32_t capacity_;
  bool overflowed_ = false;
};
