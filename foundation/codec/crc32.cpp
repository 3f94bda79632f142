// CRC-32 forms of the control channel and of the hash records. Long inputs
// are folded with carry-less multiplication where the processor has it, 512
// bytes a step with the 512-bit form or 64 with the 128-bit one; everything
// else goes eight bytes per step through tables.
#include "foundation/codec/crc32.h"

#include "foundation/codec/cpu_features.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define ORCHARD_CRC32_CLMUL 1
#endif

namespace {
struct Crc32TableBuilder {
  uint32_t t[256];
  constexpr Crc32TableBuilder() : t{} {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
  }
};
constexpr Crc32TableBuilder kBuilt;

// Tables for eight bytes per step ("slicing by 8"): slice[k][b] is the
// register change of byte b followed by k zero bytes. slice[0] is the standard table.
struct Crc32SliceBuilder {
  uint32_t slice[8][256];
  constexpr Crc32SliceBuilder() : slice{} {
    for (uint32_t i = 0; i < 256; ++i) slice[0][i] = kBuilt.t[i];
    for (int k = 1; k < 8; ++k)
      for (uint32_t i = 0; i < 256; ++i)
        slice[k][i] = (slice[k - 1][i] >> 8) ^ slice[0][slice[k - 1][i] & 0xFF];
  }
};
constexpr Crc32SliceBuilder kSlices;

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t SlicedContinue(uint32_t reg, const uint8_t* p, size_t length) {
  const auto& t = kSlices.slice;
  for (; length >= 8; p += 8, length -= 8) {
    const uint32_t lo = LoadLe32(p) ^ reg, hi = LoadLe32(p + 4);
    reg = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
  }
  for (; length != 0; ++p, --length) reg = (reg >> 8) ^ kBuilt.t[(reg ^ *p) & 0xFF];
  return reg;
}

#ifdef ORCHARD_CRC32_CLMUL

// Folding. A 16-byte chunk C (first byte's low bit the highest coefficient,
// x^127) split as C = H x^64 + L moves D bits further on as
// H (x^(D+64) mod P) + L (x^D mod P), a product of degree below 96 that is
// XORed into the chunk found there. The chunk's bytes hold its coefficients
// bit-reversed (H in the low quadword), and a carry-less product of
// bit-reversed factors comes out one place short, so the constants are
// x^(D+63) and x^(D-1) mod P, bit-reversed into 64 bits.
constexpr uint64_t XPowModReversed(unsigned n) {
  uint64_t r = 1;  // normal order: bit d is x^d
  for (unsigned i = 0; i < n; ++i) {
    r <<= 1;
    if (r & (uint64_t(1) << 32)) r ^= 0x104C11DB7ull;
  }
  uint64_t reversed = 0;
  for (unsigned d = 0; d < 32; ++d)
    if (r >> d & 1) reversed |= uint64_t(1) << (63 - d);
  return reversed;
}

constexpr uint64_t kFold4096High = XPowModReversed(4096 + 63), kFold4096Low = XPowModReversed(4096 - 1);
constexpr uint64_t kFold512High = XPowModReversed(512 + 63), kFold512Low = XPowModReversed(512 - 1);
constexpr uint64_t kFold128High = XPowModReversed(128 + 63), kFold128Low = XPowModReversed(128 - 1);

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i chunk, __m128i constants, __m128i next) {
  const __m128i high = _mm_clmulepi64_si128(chunk, constants, 0x00);
  const __m128i low = _mm_clmulepi64_si128(chunk, constants, 0x11);
  return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// At least 64 bytes. Folds every whole 16-byte chunk into one, then runs that
// chunk and the remaining bytes through the tables from register 0.
__attribute__((target("pclmul,sse2"))) uint32_t FoldedContinue(uint32_t reg, const uint8_t* p, size_t length) {
  auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  const __m128i k512 = _mm_set_epi64x(int64_t(kFold512Low), int64_t(kFold512High));
  const __m128i k128 = _mm_set_epi64x(int64_t(kFold128Low), int64_t(kFold128High));
  // The starting register is the same as XORing it into the first four bytes.
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(reg)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  length -= 64;
  for (; length >= 64; p += 64, length -= 64) {
    x0 = Fold(x0, k512, load(p));
    x1 = Fold(x1, k512, load(p + 16));
    x2 = Fold(x2, k512, load(p + 32));
    x3 = Fold(x3, k512, load(p + 48));
  }
  __m128i x = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
  for (; length >= 16; p += 16, length -= 16) x = Fold(x, k128, load(p));
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), x);
  return SlicedContinue(SlicedContinue(0, folded, 16), p, length);
}

// The same folding four 128-bit chunks per instruction: each 512-bit
// register holds 64 consecutive bytes, and the eight of them 512 bytes, so a
// step moves every chunk 4096 bits on. Eight chains rather than four: a fold
// waits on the multiply before it, and eight keep the multiplier busy. The
// registers' chunks are folded into one 128-bit chunk at the end. Under Wine
// as on Windows the stack is only 16-byte aligned, so nothing here may leave
// 512-bit values on it: eight accumulators and two constants stay in
// registers.
#define ORCHARD_WIDE_TARGET __attribute__((target("avx512f,avx512bw,vpclmulqdq,pclmul,sse4.1")))

ORCHARD_WIDE_TARGET inline __m512i LoadWide(const uint8_t* p) { return _mm512_loadu_si512(p); }

ORCHARD_WIDE_TARGET inline __m512i FoldWide(__m512i chunk, __m512i constants, __m512i next) {
  const __m512i high = _mm512_clmulepi64_epi128(chunk, constants, 0x00);
  const __m512i low = _mm512_clmulepi64_epi128(chunk, constants, 0x11);
  return _mm512_ternarylogic_epi64(high, low, next, 0x96);  // three-way XOR
}

// At least 512 bytes.
ORCHARD_WIDE_TARGET uint32_t WideFoldedContinue(uint32_t reg, const uint8_t* p, size_t length) {
  // (The broadcast and extract intrinsics trip GCC 12's uninitialised-use
  // warning inside its own headers; sets and stores do the same.)
  const int64_t h4096 = int64_t(kFold4096High), l4096 = int64_t(kFold4096Low);
  const int64_t h512 = int64_t(kFold512High), l512 = int64_t(kFold512Low);
  const __m512i k4096 = _mm512_set_epi64(l4096, h4096, l4096, h4096, l4096, h4096, l4096, h4096);
  const __m512i k512 = _mm512_set_epi64(l512, h512, l512, h512, l512, h512, l512, h512);
  __m512i z0 = _mm512_xor_si512(LoadWide(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, int64_t(reg)));
  __m512i z1 = LoadWide(p + 64), z2 = LoadWide(p + 128), z3 = LoadWide(p + 192);
  __m512i z4 = LoadWide(p + 256), z5 = LoadWide(p + 320), z6 = LoadWide(p + 384), z7 = LoadWide(p + 448);
  p += 512;
  length -= 512;
  for (; length >= 512; p += 512, length -= 512) {
    z0 = FoldWide(z0, k4096, LoadWide(p));
    z1 = FoldWide(z1, k4096, LoadWide(p + 64));
    z2 = FoldWide(z2, k4096, LoadWide(p + 128));
    z3 = FoldWide(z3, k4096, LoadWide(p + 192));
    z4 = FoldWide(z4, k4096, LoadWide(p + 256));
    z5 = FoldWide(z5, k4096, LoadWide(p + 320));
    z6 = FoldWide(z6, k4096, LoadWide(p + 384));
    z7 = FoldWide(z7, k4096, LoadWide(p + 448));
  }
  __m512i z = FoldWide(FoldWide(FoldWide(z0, k512, z1), k512, z2), k512, z3);
  z = FoldWide(FoldWide(FoldWide(FoldWide(z, k512, z4), k512, z5), k512, z6), k512, z7);
  for (; length >= 64; p += 64, length -= 64) z = FoldWide(z, k512, LoadWide(p));
  const __m128i k128 = _mm_set_epi64x(int64_t(kFold128Low), int64_t(kFold128High));
  alignas(16) uint8_t chunks[64];
  _mm512_storeu_si512(chunks, z);
  auto chunk = [&chunks](int i) { return _mm_load_si128(reinterpret_cast<const __m128i*>(chunks + 16 * i)); };
  __m128i x = Fold(Fold(Fold(chunk(0), k128, chunk(1)), k128, chunk(2)), k128, chunk(3));
  for (; length >= 16; p += 16, length -= 16) x = Fold(x, k128, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  alignas(16) uint8_t folded[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(folded), x);
  return SlicedContinue(SlicedContinue(0, folded, 16), p, length);
}
#undef ORCHARD_WIDE_TARGET

bool HasClmul() {
  unsigned a, b, c, d;
  return __get_cpuid(1, &a, &b, &c, &d) && (c & (1u << 1));
}
#endif
}  // namespace

const uint32_t kCrc32Table[256] = {
#define R(i) kBuilt.t[i]
#define R8(i) R(i), R(i + 1), R(i + 2), R(i + 3), R(i + 4), R(i + 5), R(i + 6), R(i + 7)
#define R64(i) R8(i), R8(i + 8), R8(i + 16), R8(i + 24), R8(i + 32), R8(i + 40), R8(i + 48), R8(i + 56)
    R64(0), R64(64), R64(128), R64(192)
#undef R64
#undef R8
#undef R
};

uint32_t Crc32Continue(uint32_t reg, const void* data, size_t length) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
#ifdef ORCHARD_CRC32_CLMUL
  static const bool clmul = HasClmul();
  static const bool wide = CpuHasAvx512Clmul();
  // Below a few chunks the tables are as fast.
  if (wide && length >= 1024) {
    // GCC ends the 512-bit code without a vzeroupper of its own.
    reg = WideFoldedContinue(reg, p, length);
    CpuClearUpperHalves();
    return reg;
  }
  if (clmul && length >= 256) return FoldedContinue(reg, p, length);
#endif
  return SlicedContinue(reg, p, length);
}

uint32_t Crc32Update(const void* data, size_t length) { return Crc32Continue(kCrc32ChannelStart, data, length); }

uint32_t Crc32Raw(const void* data, size_t length) { return Crc32Continue(0, data, length); }
