// RC4 stream cipher of the P2P TCP streams: one state per direction, run on
// over the whole stream. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>

namespace p2p {

struct Rc4State {
  uint8_t s[256];
  uint8_t i;
  uint8_t j;
};
static_assert(sizeof(Rc4State) == 258, "permutation followed by the two indexes");

void rc4_init(Rc4State& st, const uint8_t* key, size_t key_length);
// XORs the next n keystream bytes into p.
void rc4_apply(Rc4State& st, uint8_t* p, size_t n);

}  // namespace p2p
