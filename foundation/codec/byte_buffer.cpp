// CByteBuffer: grows by reallocating to exactly the new length, as the
// channel's bodies are built once and sent once. Large blocks are recycled:
// a block of fresh pages costs a page fault per page on first touch, which
// for a 1 MiB body is many times the copy itself.
#include "foundation/codec/byte_buffer.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Blocks in this size range are kept for the next buffer instead of freed.
constexpr uint32_t kRecycleMin = 64 * 1024;
constexpr uint32_t kRecycleMax = 8u << 20;
// A kept block serves a request that leaves at most a quarter of it unused.
constexpr uint32_t kMaxSlackDivisor = 4;

// Free blocks waiting for reuse. While kept, a block's first four bytes hold
// the number of bytes it is known to have.
constexpr int kSlots = 2;
std::atomic<uint8_t*> keptBlocks[kSlots];

uint32_t KeptSize(const uint8_t* block) {
  uint32_t size;
  std::memcpy(&size, block, sizeof size);
  return size;
}

uint8_t* TakeBlock(uint32_t n) {
  if (n >= kRecycleMin && n <= kRecycleMax) {
    for (auto& slot : keptBlocks) {
      uint8_t* block = slot.exchange(nullptr, std::memory_order_acquire);
      if (block == nullptr) continue;
      const uint32_t size = KeptSize(block);
      if (size >= n && size - n <= size / kMaxSlackDivisor) return block;
      uint8_t* empty = nullptr;
      if (!slot.compare_exchange_strong(empty, block, std::memory_order_release)) std::free(block);
    }
  }
  return static_cast<uint8_t*>(std::malloc(n));
}

// size: bytes the block is known to hold.
void ReleaseBlock(uint8_t* block, uint32_t size) {
  if (block == nullptr) return;
  if (size < kRecycleMin || size > kRecycleMax) {
    std::free(block);
    return;
  }
  std::memcpy(block, &size, sizeof size);
  for (auto& slot : keptBlocks) {
    uint8_t* empty = nullptr;
    if (slot.compare_exchange_strong(empty, block, std::memory_order_release)) return;
  }
  // Every slot taken: the newest block stays, the one it replaces goes.
  std::free(keptBlocks[0].exchange(block, std::memory_order_acq_rel));
}

}  // namespace

CByteBuffer::~CByteBuffer() { ReleaseBlock(data_, length_); }

int CByteBuffer::Append(const void* data, uint32_t n) {
  if (n == 0) return 0;
  if (data == nullptr) return 1;
  uint8_t* at = Extend(n);
  if (at == nullptr) return 1;
  std::memcpy(at, data, n);
  return 0;
}

uint8_t* CByteBuffer::Extend(uint32_t n) {
  if (n == 0 || n > UINT32_MAX - length_) return nullptr;
  uint8_t* grown = TakeBlock(length_ + n);
  if (grown == nullptr) return nullptr;
  if (length_ != 0) std::memcpy(grown, data_, length_);
  ReleaseBlock(data_, length_);
  data_ = grown;
  const uint32_t at = length_;
  length_ += n;
  return data_ + at;
}

void CByteBuffer::Truncate(uint32_t n) {
  if (n < length_) length_ = n;
}
