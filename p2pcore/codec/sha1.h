// SHA-1 (FIPS 180-1) of a whole buffer, as the upload core carries it. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

namespace p2p {

void sha1_digest(uint8_t out[20], const void* bytes, size_t n);

}  // namespace p2p
