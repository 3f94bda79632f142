// What the TCP stream targets share: plain frame bytes from the input turned
// into the stream a sender writes (the seed, the opening block, then the bytes
// under the cipher), so that the frame parser sees any frame layout and one
// inserted byte does not garble the rest.
#pragma once
#include <cstdint>
#include <vector>

#include "p2pcore/wire/rc4.h"
#include "p2pcore/wire/tcp_stream.h"
#include "p2pcore/wire/wire_bytes.h"

inline std::vector<uint8_t> EncipheredStream(uint32_t seed, const std::vector<uint8_t>& plain) {
  std::vector<uint8_t> stream(p2p::kStreamOpeningSize);
  p2p::store_u32le(stream.data(), seed);
  p2p::store_u32le(stream.data() + 4, p2p::kStreamCheckValue);
  p2p::store_u32le(stream.data() + 8, 1);
  p2p::store_u32le(stream.data() + 12, 3);
  stream.insert(stream.end(), plain.begin(), plain.end());
  p2p::Rc4State cipher;
  p2p::stream_cipher_init(cipher, seed);
  p2p::rc4_apply(cipher, stream.data() + 4, stream.size() - 4);
  return stream;
}
