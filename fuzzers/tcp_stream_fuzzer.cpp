// Fuzz target: the bytes of a P2P TCP connection into the reassembling
// receiver. The input is either taken as the enciphered stream itself or as
// the plain text after the opening, enciphered here so that the frame
// parser sees any frame layout, up to and past the body limit. However the
// stream is cut into receives, the same frames come out and the receiver
// ends in the same state; from plain frames, exactly the frames their layout
// holds come out, and a frame that breaks it fails with its code.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "fuzzers/plain_stream.h"
#include "p2pcore/wire/tcp_stream.h"
#include "p2pcore/wire/tests/frame_collector.h"

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

// The frames a plain stream holds by the frame layout (u32 length L = 4 + H
// + B, u16 command, u32 header length H, the header, the body), and how it
// fails: the codes a failing frame may give, none while it is well formed.
struct Layout {
  std::vector<p2p_test::Frame> frames;
  std::vector<int16_t> failures;
};

Layout FramesOf(const std::vector<uint8_t>& plain) {
  Layout out;
  size_t at = 0;
  while (plain.size() - at >= 6) {
    const uint64_t length = load_u32le(plain.data() + at);
    // No frame has a length below 4 or above 4 + 16 + 0x20000: that is known
    // from the length field alone, before the frame is whole.
    if (length < 4) out.failures = {kStreamBadHeader, kStreamBadLength};
    if (length > kFrameMaxLength) out.failures = {kStreamBodyTooLarge};
    if (!out.failures.empty() || length + 6 > plain.size() - at) break;
    const uint64_t header = load_u32le(plain.data() + at + 6);
    if (header > kFrameMaxHeader) out.failures = {kStreamBadHeader};
    else if (length < header + 4) out.failures = {kStreamBadHeader, kStreamBadLength};
    else if (length - header - 4 > kFrameMaxBody) out.failures = {kStreamBodyTooLarge};
    if (!out.failures.empty()) break;
    const uint8_t* body = plain.data() + at + 10 + header;
    out.frames.push_back({uint16_t(plain[at + 4] | plain[at + 5] << 8), std::vector<uint8_t>(body, body + (length - header - 4))});
    at += size_t(length) + 6;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const bool plain = in.ConsumeBool();
  const uint16_t seed = in.ConsumeIntegral<uint16_t>();
  const std::vector<uint8_t> cuts = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 32));
  std::vector<uint8_t> stream = in.ConsumeRemainingBytes<uint8_t>();
  Layout layout;
  if (plain) {
    layout = FramesOf(stream);
    stream = EncipheredStream(seed, stream);
  }

  Receiver whole;
  Feed(whole, stream, {});
  Receiver pieces;
  Feed(pieces, stream, cuts);
  FUZZ_CHECK(whole.frames == pieces.frames);
  for (const p2p_test::Frame& f : whole.frames) FUZZ_CHECK(f.body.size() <= kFrameMaxBody);
  FUZZ_CHECK(whole.state() == pieces.state());
  if (whole.state() >= 0) FUZZ_CHECK(whole.needed() == pieces.needed());
  if (plain) {
    // Exactly the frames the layout holds, up to the first that breaks it.
    FUZZ_CHECK(whole.frames == layout.frames);
    if (layout.failures.empty()) {
      FUZZ_CHECK(whole.state() >= 0);
    } else {
      FUZZ_CHECK(std::find(layout.failures.begin(), layout.failures.end(), whole.state()) != layout.failures.end());
    }
  }
  return 0;
}
