// CByteBuffer: the growable heap block that carries one control-channel
// request or reply body. Platform-free.
#pragma once
#include <cstdint>

class CByteBuffer {
 public:
  CByteBuffer() = default;
  ~CByteBuffer();
  CByteBuffer(const CByteBuffer&) = delete;
  CByteBuffer& operator=(const CByteBuffer&) = delete;

  // Appends n bytes. 0 on success; 1 when memory runs out or the length would
  // overflow, and then the buffer is unchanged.
  int Append(const void* data, uint32_t n);
  // Lengthens the buffer by n bytes for the caller to fill and returns where
  // they start (for a receive straight into the buffer). Null for n of 0, or
  // when memory runs out or the length would overflow; the buffer is then
  // unchanged.
  uint8_t* Extend(uint32_t n);
  // Shortens the buffer to its first n bytes; n above the length does nothing.
  void Truncate(uint32_t n);

  uint8_t* Data() { return data_; }
  const uint8_t* Data() const { return data_; }
  uint32_t Length() const { return length_; }

 private:
  uint8_t* data_ = nullptr;
  uint32_t length_ = 0;
};
