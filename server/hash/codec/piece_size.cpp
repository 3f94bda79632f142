// Piece-size rules of the content ids. Stored ids and hash records depend on
// them bit for bit, so the odd edges (the halving that drops remainders, the
// SHA-1 bounds a few bytes short of powers of two) are kept as they are.
#include "server/hash/codec/piece_size.h"

namespace {
constexpr uint64_t k64K = 0x10000;
constexpr uint64_t k1M = 0x100000;
constexpr uint64_t k4G = 0x100000000ull;
}  // namespace

uint64_t GetMd5PieceSize(uint64_t size) {
  if (size == 0) return 0;
  if (size <= k4G) {
    uint64_t n = ((size - 1) >> 16) + 1;
    uint64_t piece = k64K;
    while (n > 512) {
      piece <<= 1;
      n >>= 1;
    }
    return piece > k1M ? k1M : piece;
  }
  uint64_t n = ((size - 1) >> 20) + 1;
  uint64_t piece = k1M;
  while (n > 4096) {
    piece <<= 1;
    n >>= 1;
  }
  return piece;
}

uint64_t GetSha1PieceSize(uint64_t size) {
  if (size == 0) return 0;
  if (size < 0x400000) return 0x4000;
  if (size < 0x1000000) return 0x8000;
  if (size < 0x3FFFFFE) return 0x10000;
  if (size < 0xFFFFFF8) return 0x20000;
  if (size < 0x3FFFFFE0) return 0x40000;
  if (size < 0xFFFFFF80ull) return 0x80000;
  return 0x100000;
}

uint64_t PieceCountFor(uint64_t size, uint64_t pieceSize) {
  if (size == 0 || pieceSize == 0) return 0;
  return size / pieceSize + (size % pieceSize != 0 ? 1 : 0);
}

uint64_t GetPieceCount(uint64_t size) { return PieceCountFor(size, GetMd5PieceSize(size)); }
