// Piece-size rules as tables of sizes, including sizes far above 4 GiB.
#include "server/hash/codec/piece_size.h"

#include <gtest/gtest.h>

namespace {
constexpr uint64_t K = 1024, M = K * K, G = M * K;
}

TEST(PieceSize, Md5PieceSizeAndCount) {
  struct Row { const char* name; uint64_t size, piece, count; };
  static const Row rows[] = {
      {"empty", 0, 0, 0},
      {"one byte", 1, 64 * K, 1},
      {"64 KiB", 64 * K, 64 * K, 1},
      {"64 KiB + 1", 64 * K + 1, 64 * K, 2},
      {"32 MiB", 32 * M, 64 * K, 512},
      {"32 MiB + 1", 32 * M + 1, 128 * K, 257},
      {"64 MiB", 64 * M, 128 * K, 512},
      {"100 MiB", 100 * M, 256 * K, 400},
      {"256 MiB", 256 * M, 512 * K, 512},
      {"512 MiB", 512 * M, 1 * M, 512},
      {"2 GiB + 1 (capped at 1 MiB)", 2 * G + 1, 1 * M, 2049},
      {"4 GiB", 4 * G, 1 * M, 4096},
      {"4 GiB + 1", 4 * G + 1, 2 * M, 2049},
      {"8 GiB", 8 * G, 2 * M, 4096},
      {"8 GiB + 1 (halving drops the remainder)", 8 * G + 1, 2 * M, 4097},
      {"20 GiB", 20 * G, 8 * M, 2560},
      {"1 TiB", 1024 * G, 256 * M, 4096},
      {"largest size", UINT64_MAX, uint64_t{1} << 52, 4096},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(GetMd5PieceSize(r.size), r.piece);
    EXPECT_EQ(GetPieceCount(r.size), r.count);
  }
}

TEST(PieceSize, Sha1PieceSize) {
  struct Row { const char* name; uint64_t size, piece; };
  static const Row rows[] = {
      {"empty", 0, 0},
      {"one byte", 1, 16 * K},
      {"4 MiB - 1", 4 * M - 1, 16 * K},
      {"4 MiB", 4 * M, 32 * K},
      {"16 MiB - 1", 16 * M - 1, 32 * K},
      {"16 MiB", 16 * M, 64 * K},
      {"67,108,861", 67108861, 64 * K},
      {"67,108,862", 67108862, 128 * K},
      {"268,435,447", 268435447, 128 * K},
      {"268,435,448", 268435448, 256 * K},
      {"1,073,741,791", 1073741791, 256 * K},
      {"1,073,741,792", 1073741792, 512 * K},
      {"4,294,967,167", 4294967167ull, 512 * K},
      {"4,294,967,168", 4294967168ull, 1 * M},
      {"4 GiB", 4 * G, 1 * M},
      {"20 GiB", 20 * G, 1 * M},
      {"largest size", UINT64_MAX, 1 * M},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(GetSha1PieceSize(r.size), r.piece);
  }
}

TEST(PieceSize, PieceCountFor) {
  struct Row { uint64_t size, piece, count; };
  static const Row rows[] = {
      {0, 16, 0}, {5, 0, 0}, {1, 16, 1}, {16, 16, 1}, {17, 16, 2}, {UINT64_MAX, 1, UINT64_MAX},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.size << " / " << r.piece);
    EXPECT_EQ(PieceCountFor(r.size, r.piece), r.count);
  }
}
