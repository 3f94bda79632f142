// MD5 (RFC 1321): the 64 steps written out so the compiler keeps the state in
// registers. Platform-free.
#include "foundation/codec/md5.h"

#include <cstring>

namespace {

inline uint32_t Rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

// Message word k of the block, read where it is used rather than copied out first.
inline uint32_t Word(const uint8_t* block, int k) { return LoadLe32(block + 4 * k); }

// Keeps a sum whole: left to itself clang adds the step's constant after the
// round function, one more operation on the chain.
inline uint32_t Early(uint32_t v) {
#if defined(__GNUC__)
  __asm__("" : "+r"(v));
#endif
  return v;
}

// A step is a = b + ((a + f(b, c, d) + x + t) <<< s), and only b is new: a, c,
// d and the message word were ready a step or more earlier. So a + x + t is
// summed first, and each round function takes as few operations after b as
// its truth table allows: F and I two, H one (c ^ d first), G one, since
// (b & d) and (c & ~d) share no bit and the second joins the early sum: four
// or five operations a step on the chain, rotation and the add of b included.
#define MD5_F(a, b, c, d, k, t, s)       \
  a = Early(a + Word(block, k) + (t));   \
  a += d ^ (b & (c ^ d));                \
  a = Rotl(a, s) + b;
#define MD5_G(a, b, c, d, k, t, s)                  \
  a = Early(a + Word(block, k) + (t) + (c & ~d));   \
  a += b & d;                                       \
  a = Rotl(a, s) + b;
#define MD5_H(a, b, c, d, k, t, s)       \
  a = Early(a + Word(block, k) + (t));   \
  a += b ^ (c ^ d);                      \
  a = Rotl(a, s) + b;
#define MD5_I(a, b, c, d, k, t, s)       \
  a = Early(a + Word(block, k) + (t));   \
  a += c ^ (b | ~d);                     \
  a = Rotl(a, s) + b;

// Runs `count` 64-byte blocks, the state in registers from one to the next.
void Transform(uint32_t state[4], const uint8_t* block, size_t count) {
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
  for (; count != 0; --count, block += 64) {
    const uint32_t a0 = a, b0 = b, c0 = c, d0 = d;

    MD5_F(a, b, c, d, 0, 0xd76aa478, 7)
    MD5_F(d, a, b, c, 1, 0xe8c7b756, 12)
    MD5_F(c, d, a, b, 2, 0x242070db, 17)
    MD5_F(b, c, d, a, 3, 0xc1bdceee, 22)
    MD5_F(a, b, c, d, 4, 0xf57c0faf, 7)
    MD5_F(d, a, b, c, 5, 0x4787c62a, 12)
    MD5_F(c, d, a, b, 6, 0xa8304613, 17)
    MD5_F(b, c, d, a, 7, 0xfd469501, 22)
    MD5_F(a, b, c, d, 8, 0x698098d8, 7)
    MD5_F(d, a, b, c, 9, 0x8b44f7af, 12)
    MD5_F(c, d, a, b, 10, 0xffff5bb1, 17)
    MD5_F(b, c, d, a, 11, 0x895cd7be, 22)
    MD5_F(a, b, c, d, 12, 0x6b901122, 7)
    MD5_F(d, a, b, c, 13, 0xfd987193, 12)
    MD5_F(c, d, a, b, 14, 0xa679438e, 17)
    MD5_F(b, c, d, a, 15, 0x49b40821, 22)

    MD5_G(a, b, c, d, 1, 0xf61e2562, 5)
    MD5_G(d, a, b, c, 6, 0xc040b340, 9)
    MD5_G(c, d, a, b, 11, 0x265e5a51, 14)
    MD5_G(b, c, d, a, 0, 0xe9b6c7aa, 20)
    MD5_G(a, b, c, d, 5, 0xd62f105d, 5)
    MD5_G(d, a, b, c, 10, 0x02441453, 9)
    MD5_G(c, d, a, b, 15, 0xd8a1e681, 14)
    MD5_G(b, c, d, a, 4, 0xe7d3fbc8, 20)
    MD5_G(a, b, c, d, 9, 0x21e1cde6, 5)
    MD5_G(d, a, b, c, 14, 0xc33707d6, 9)
    MD5_G(c, d, a, b, 3, 0xf4d50d87, 14)
    MD5_G(b, c, d, a, 8, 0x455a14ed, 20)
    MD5_G(a, b, c, d, 13, 0xa9e3e905, 5)
    MD5_G(d, a, b, c, 2, 0xfcefa3f8, 9)
    MD5_G(c, d, a, b, 7, 0x676f02d9, 14)
    MD5_G(b, c, d, a, 12, 0x8d2a4c8a, 20)

    MD5_H(a, b, c, d, 5, 0xfffa3942, 4)
    MD5_H(d, a, b, c, 8, 0x8771f681, 11)
    MD5_H(c, d, a, b, 11, 0x6d9d6122, 16)
    MD5_H(b, c, d, a, 14, 0xfde5380c, 23)
    MD5_H(a, b, c, d, 1, 0xa4beea44, 4)
    MD5_H(d, a, b, c, 4, 0x4bdecfa9, 11)
    MD5_H(c, d, a, b, 7, 0xf6bb4b60, 16)
    MD5_H(b, c, d, a, 10, 0xbebfbc70, 23)
    MD5_H(a, b, c, d, 13, 0x289b7ec6, 4)
    MD5_H(d, a, b, c, 0, 0xeaa127fa, 11)
    MD5_H(c, d, a, b, 3, 0xd4ef3085, 16)
    MD5_H(b, c, d, a, 6, 0x04881d05, 23)
    MD5_H(a, b, c, d, 9, 0xd9d4d039, 4)
    MD5_H(d, a, b, c, 12, 0xe6db99e5, 11)
    MD5_H(c, d, a, b, 15, 0x1fa27cf8, 16)
    MD5_H(b, c, d, a, 2, 0xc4ac5665, 23)

    MD5_I(a, b, c, d, 0, 0xf4292244, 6)
    MD5_I(d, a, b, c, 7, 0x432aff97, 10)
    MD5_I(c, d, a, b, 14, 0xab9423a7, 15)
    MD5_I(b, c, d, a, 5, 0xfc93a039, 21)
    MD5_I(a, b, c, d, 12, 0x655b59c3, 6)
    MD5_I(d, a, b, c, 3, 0x8f0ccc92, 10)
    MD5_I(c, d, a, b, 10, 0xffeff47d, 15)
    MD5_I(b, c, d, a, 1, 0x85845dd1, 21)
    MD5_I(a, b, c, d, 8, 0x6fa87e4f, 6)
    MD5_I(d, a, b, c, 15, 0xfe2ce6e0, 10)
    MD5_I(c, d, a, b, 6, 0xa3014314, 15)
    MD5_I(b, c, d, a, 13, 0x4e0811a1, 21)
    MD5_I(a, b, c, d, 4, 0xf7537e82, 6)
    MD5_I(d, a, b, c, 11, 0xbd3af235, 10)
    MD5_I(c, d, a, b, 2, 0x2ad7d2bb, 15)
    MD5_I(b, c, d, a, 9, 0xeb86d391, 21)

    a += a0;
    b += b0;
    c += c0;
    d += d0;
  }
  state[0] = a;
  state[1] = b;
  state[2] = c;
  state[3] = d;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

}  // namespace

void MD5Init(MD5Context* ctx) {
  ctx->count[0] = ctx->count[1] = 0;
  ctx->state[0] = 0x67452301;
  ctx->state[1] = 0xefcdab89;
  ctx->state[2] = 0x98badcfe;
  ctx->state[3] = 0x10325476;
}

void MD5Update(MD5Context* ctx, const void* data, size_t length) {
  if (length == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(data);
  size_t used = (ctx->count[0] >> 3) & 63;

  // The bit count is 64 bits wide, kept as two words.
  const uint32_t bitsLow = uint32_t(uint64_t(length) << 3);
  ctx->count[0] += bitsLow;
  if (ctx->count[0] < bitsLow) ++ctx->count[1];
  ctx->count[1] += uint32_t(uint64_t(length) >> 29);

  if (used != 0) {
    const size_t room = 64 - used;
    if (length < room) {
      std::memcpy(ctx->buffer + used, in, length);
      return;
    }
    std::memcpy(ctx->buffer + used, in, room);
    Transform(ctx->state, ctx->buffer, 1);
    in += room;
    length -= room;
  }
  if (length >= 64) {
    Transform(ctx->state, in, length / 64);
    in += length & ~size_t(63);
    length &= 63;
  }
  if (length != 0) std::memcpy(ctx->buffer, in, length);
}

void MD5Final(MD5Context* ctx, uint8_t digest[16]) {
  uint8_t bits[8];
  StoreLe32(bits, ctx->count[0]);
  StoreLe32(bits + 4, ctx->count[1]);

  static const uint8_t kPadding[64] = {0x80};
  const size_t used = (ctx->count[0] >> 3) & 63;
  MD5Update(ctx, kPadding, used < 56 ? 56 - used : 120 - used);
  MD5Update(ctx, bits, 8);

  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, ctx->state[i]);
  std::memset(ctx, 0, sizeof *ctx);
}

void MD5Digest(const void* data, size_t length, uint8_t digest[16]) {
  MD5Context ctx;
  MD5Init(&ctx);
  MD5Update(&ctx, data, length);
  MD5Final(&ctx, digest);
}
