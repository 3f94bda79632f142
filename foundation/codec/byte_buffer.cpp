// CByteBuffer: grows by reallocating to exactly the new length, as the
// channel's bodies are built once and sent once.
#include "foundation/codec/byte_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

CByteBuffer::~CByteBuffer() { std::free(data_); }

int CByteBuffer::Append(const void* data, uint32_t n) {
  if (n == 0) return 0;
  if (data == nullptr || n > UINT32_MAX - length_) return 1;
  uint8_t* grown = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(length_) + n));
  if (grown == nullptr) return 1;
  if (length_ != 0) std::memcpy(grown, data_, length_);
  std::memcpy(grown + length_, data, n);
  std::free(data_);
  data_ = grown;
  length_ += n;
  return 0;
}
