// RC4: key scheduling and keystream.
#include "p2pcore/wire/rc4.h"

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
  uint8_t i = st.i, j = st.j;
  for (size_t k = 0; k < n; ++k) {
    i = static_cast<uint8_t>(i + 1);
    j = static_cast<uint8_t>(j + st.s[i]);
    std::swap(st.s[i], st.s[j]);
    p[k] ^= st.s[static_cast<uint8_t>(st.s[i] + st.s[j])];
  }
  st.i = i;
  st.j = j;
}

}  // namespace p2p
