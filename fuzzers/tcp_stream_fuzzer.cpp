// Fuzz target: the bytes of a P2P TCP connection into the reassembling
// receiver. The input is either taken as the enciphered stream itself or as
// the plain text after the opening, enciphered here so that the frame
// parser sees any frame layout. However the stream is cut into receives,
// the same frames come out and the receiver ends in the same state.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/tcp_stream.h"
#include "p2pcore/wire/tests/frame_collector.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

using Receiver = p2p_test::Collector;

// Feeds the stream in pieces of the given sizes (the last piece takes the rest).
void Feed(Receiver& rx, const std::vector<uint8_t>& stream, const std::vector<uint8_t>& cuts) {
  size_t at = 0;
  for (size_t k = 0; at < stream.size(); ++k) {
    size_t n = k < cuts.size() ? size_t(cuts[k]) + 1 : stream.size() - at;
    if (n > stream.size() - at) n = stream.size() - at;
    // Each receive in a buffer of its own size, so the sanitizer sees any overrun.
    std::vector<uint8_t> piece(stream.begin() + at, stream.begin() + at + n);
    if (rx.unpack(piece.data(), piece.size()) != 0) {
      // A receiver in error stays there and delivers nothing more.
      FUZZ_CHECK(rx.state() < 0);
      const size_t delivered = rx.frames.size();
      std::vector<uint8_t> more(stream.begin(), stream.end());
      if (!more.empty()) FUZZ_CHECK(rx.unpack(more.data(), more.size()) == rx.state());
      FUZZ_CHECK(rx.frames.size() == delivered);
      return;
    }
    at += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool plain = in.ConsumeBool();
  const uint16_t seed = in.ConsumeIntegral<uint16_t>();
  const std::vector<uint8_t> cuts = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 32));
  std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();
  if (plain) {
    // The opening a sender writes, then the input as the plain frames.
    std::vector<uint8_t> opening(kStreamOpeningSize);
    store_u32le(opening.data(), seed);
    store_u32le(opening.data() + 4, kStreamCheckValue);
    store_u32le(opening.data() + 8, 1);
    store_u32le(opening.data() + 12, 3);
    stream.insert(stream.begin(), opening.begin(), opening.end());
    Rc4State cipher;
    stream_cipher_init(cipher, seed);
    rc4_apply(cipher, stream.data() + 4, stream.size() - 4);
  }

  Receiver whole;
  Feed(whole, stream, {});
  Receiver pieces;
  Feed(pieces, stream, cuts);
  FUZZ_CHECK(whole.frames == pieces.frames);
  for (const p2p_test::Frame& f : whole.frames) FUZZ_CHECK(f.body.size() <= kFrameMaxBody);
  FUZZ_CHECK(whole.state() == pieces.state());
  if (whole.state() >= 0) FUZZ_CHECK(whole.needed() == pieces.needed());
  return 0;
}
