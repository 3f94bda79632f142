// The upload core's MD5 names over foundation's MD5, for callers not yet moved
// to foundation's own names. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/codec/md5.h"

namespace p2p {

using md5_context = MD5Context;

inline void md5_init(md5_context* ctx) { MD5Init(ctx); }
inline void md5_update(md5_context* ctx, const void* bytes, size_t n) { MD5Update(ctx, bytes, n); }
inline void md5_final(md5_context* ctx, uint8_t out[16]) { MD5Final(ctx, out); }

}  // namespace p2p
