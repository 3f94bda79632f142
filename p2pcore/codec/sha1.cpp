// SHA-1 (FIPS 180-1): block transform, update and final step behind one call.
#include "p2pcore/codec/sha1.h"

#include <cstring>

#include "p2pcore/codec/digest_blocks.h"

namespace p2p {
namespace {

struct sha1_context {
  uint32_t h[5];
  uint64_t bit_count;
  uint8_t block[64];
};

inline uint32_t rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

void transform(uint32_t h[5], const uint8_t block[64]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t(block[i * 4]) << 24 | uint32_t(block[i * 4 + 1]) << 16 | uint32_t(block[i * 4 + 2]) << 8 |
           uint32_t(block[i * 4 + 3]);
  for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) { f = (b & c) | (~b & d); k = 0x5A827999; }
    else if (i < 40) { f = b ^ c ^ d; k = 0x6ED9EBA1; }
    else if (i < 60) { f = (b & c) | (b & d) | (c & d); k = 0x8F1BBCDC; }
    else { f = b ^ c ^ d; k = 0xCA62C1D6; }
    uint32_t t = rotl(a, 5) + f + e + k + w[i];
    e = d; d = c; c = rotl(b, 30); b = a; a = t;
  }
  h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e;
}

void update(sha1_context* ctx, const uint8_t* p, size_t n) {
  feed_blocks(ctx->bit_count, ctx->block, p, n, [ctx](const uint8_t* block) { transform(ctx->h, block); });
}

}  // namespace

void sha1_digest(uint8_t out[20], const void* bytes, size_t n) {
  sha1_context ctx = {{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0}, 0, {}};
  update(&ctx, static_cast<const uint8_t*>(bytes), n);
  uint8_t length[8];
  for (int i = 0; i < 8; ++i) length[i] = uint8_t(ctx.bit_count >> (56 - 8 * i));
  static const uint8_t pad[64] = {0x80};
  size_t used = (ctx.bit_count / 8) % 64;
  update(&ctx, pad, used < 56 ? 56 - used : 120 - used);
  update(&ctx, length, 8);
  for (int i = 0; i < 20; ++i) out[i] = uint8_t(ctx.h[i / 4] >> (24 - 8 * (i % 4)));
}

}  // namespace p2p
