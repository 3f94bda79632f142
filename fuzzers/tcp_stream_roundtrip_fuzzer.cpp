// Round-trip target of the enciphered TCP stream: frames of any command,
// header length and body, packed by the sender and received in pieces of
// any size, come out whole, in order and unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/tcp_stream.h"
#include "p2pcore/wire/tests/frame_collector.h"

using namespace p2p;

using p2p_test::Frame;
using Receiver = p2p_test::Collector;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  DataOutPacking out(in.ConsumeIntegral<uint16_t>());
  std::vector<Frame> sent;
  std::vector<uint8_t> stream;
  const int count = in.ConsumeIntegralInRange(1, 8);
  for (int k = 0; k < count && in.remaining_bytes() > 0; ++k) {
    const uint16_t command = in.ConsumeIntegral<uint16_t>();
    const uint32_t header = in.ConsumeIntegralInRange<uint32_t>(0, 20);  // above 16 is cut to 16
    const std::vector<uint8_t> body = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 600));
    tcp_frame f;
    f.new_frame(command, header);
    f.append(body.data(), body.size());
    FUZZ_CHECK(f.command() == command);
    out.pack(f);
    stream.insert(stream.end(), f.data(), f.data() + f.size());
    sent.push_back({command, body});
  }

  Receiver rx;
  size_t at = 0;
  while (at < stream.size()) {
    size_t n = in.remaining_bytes() > 0 ? size_t(in.ConsumeIntegral<uint8_t>()) + 1 : stream.size() - at;
    if (n > stream.size() - at) n = stream.size() - at;
    std::vector<uint8_t> piece(stream.begin() + at, stream.begin() + at + n);
    FUZZ_CHECK(rx.unpack(piece.data(), piece.size()) == 0);
    at += n;
  }
  FUZZ_CHECK(rx.frames == sent);
  FUZZ_CHECK(sent.empty() || rx.state() == kStreamRunning);
  return 0;
}
