// CStreamReader: takes little-endian values and length-prefixed strings out
// of a byte block. A read past the end yields zeros and still advances the
// position, so a caller can read a whole record and check once afterwards.
// Platform-free.
#pragma once
#include <cstdint>
#include <string>

class CStreamReader {
 public:
  // Longest string ReadString returns, in bytes.
  static constexpr uint32_t kMaxStringLength = 4095;

  CStreamReader(const void* data, uint32_t size);
  ~CStreamReader() = default;

  void Reset();

  // n of 0 or less does nothing.
  void ReadBytes(void* destination, int32_t n);
  uint8_t ReadUInt8() { return uint8_t(ReadValue(1)); }
  uint16_t ReadUInt16() { return uint16_t(ReadValue(2)); }
  uint32_t ReadUInt32() { return uint32_t(ReadValue(4)); }
  uint64_t ReadUInt64() { return ReadValue(8); }
  // n bytes (at most 8 are used) into a value that starts at 0.
  uint64_t ReadValue(uint32_t n);
  // A negative n puts the position past the end, so every later read yields zeros.
  void Skip(int32_t n);
  // u32 length (negative counts as 0, cut to kMaxStringLength), then the
  // bytes; the text ends at its first zero byte.
  std::string ReadString();
  void ReadString(std::string* out) { *out = ReadString(); }

  uint32_t Position() const { return position_; }
  uint32_t Size() const { return size_; }
  // True when no read so far went past the end.
  bool Ok() const { return position_ <= size_; }
  const uint8_t* ReadPointer() const { return data_ + (position_ <= size_ ? position_ : size_); }

 private:
  // The position only grows and stops at UINT32_MAX, so it can never wrap
  // back into the readable range.
  void Advance(uint64_t n);
  bool Has(uint64_t n) const { return uint64_t(position_) + n <= size_; }

  const uint8_t* data_;
  uint32_t position_ = 0;
  uint32_t counter_ = 0;  // kept for the record layout; no read advances it
  uint32_t size_;
};
