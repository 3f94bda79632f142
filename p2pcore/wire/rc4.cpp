// RC4: key scheduling and keystream.
#include "p2pcore/wire/rc4.h"

#include <cstdint>
#include <utility>

namespace p2p {

void rc4_init(Rc4State& st, const uint8_t* key, size_t key_length) {
  for (int k = 0; k < 256; ++k) st.s[k] = static_cast<uint8_t>(k);
  uint8_t j = 0;
  for (int k = 0; k < 256; ++k) {
    j = static_cast<uint8_t>(j + st.s[k] + key[k % key_length]);
    std::swap(st.s[k], st.s[j]);
  }
  st.i = 0;
  st.j = 0;
}

void rc4_apply(Rc4State& st, uint8_t* p, size_t n) {
  // The permutation as 32-bit words while it runs: byte-wide swaps stall on
  // partial registers and run about a third slower.
  uint32_t s[256];
  for (int k = 0; k < 256; ++k) s[k] = st.s[k];
  uint32_t i = st.i, j = st.j;
  for (size_t k = 0; k < n; ++k) {
    i = (i + 1) & 0xFF;
    const uint32_t a = s[i];
    j = (j + a) & 0xFF;
    const uint32_t b = s[j];
    s[i] = b;
    s[j] = a;
    p[k] ^= static_cast<uint8_t>(s[(a + b) & 0xFF]);
  }
  for (int k = 0; k < 256; ++k) st.s[k] = static_cast<uint8_t>(s[k]);
  st.i = static_cast<uint8_t>(i);
  st.j = static_cast<uint8_t>(j);
}

}  // namespace p2p
