// MD5 (RFC 1321) as the upload core carries it for its verify answers. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

namespace p2p {

struct md5_context {
  uint32_t state[4];
  uint64_t bit_count;
  uint8_t block[64];
};

void md5_init(md5_context* ctx);
void md5_update(md5_context* ctx, const void* bytes, size_t n);
// Pads, writes the digest and clears the context.
void md5_final(md5_context* ctx, uint8_t out[16]);

}  // namespace p2p
