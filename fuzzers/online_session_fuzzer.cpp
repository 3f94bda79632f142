// Fuzz target: the byte stream a TCP peer sends, received in pieces by one
// connection (opening, cipher, frames and the dispatch of every request). The
// first input bytes choose how the stream is cut; the connection must never
// hand on a request it should refuse: nothing before Check_Have, no read
// outside the shared file, never more reads than a Req_data may ask for.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "p2pcore/wire/online_session.h"

using namespace p2p;

namespace {

constexpr uint64_t kFileSize = 5000 * 1024 + 17;

struct sink : online_session_events, online_socket {
  online_session* s = nullptr;
  bool checked = false;
  size_t pieces_in_frame = 0;
  void on_active_request() override {}
  void on_check_have(const CheckHave&) override { checked = true; }
  void on_data_piece(const DataPiece& p) override {
    FUZZ_CHECK(checked && s->state() == ONLINE_CHECK_HAVE);
    FUZZ_CHECK(p.first_block <= p.last_block);
    FUZZ_CHECK(p.length == 0 || p.first_block * kBlockBytes + p.length <= kFileSize);
    FUZZ_CHECK(++pieces_in_frame <= kMaxPiecesPerRequest);
  }
  void on_finish_range(const HaveMap& m, const uint8_t* body, uint32_t length) override {
    FUZZ_CHECK(checked);
    FUZZ_CHECK(m.entries + size_t(m.width) * m.count == body + length);
  }
  void on_verify(const VerifyRequest&) override { FUZZ_CHECK(checked); }
  uint64_t shared_file_size(const uint8_t*) override { return kFileSize; }
  void on_frame_received(uint16_t, uint32_t length) override {
    FUZZ_CHECK(length <= kFrameMaxBody);
    pieces_in_frame = 0;
  }
  void on_frame_sent(uint16_t, size_t) override {}
  void log(int, const std::string&) override {}
  long send(const uint8_t*, size_t n, int*) override { return long(n); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  std::vector<size_t> cuts;
  for (int i = 0; i < 4; ++i) cuts.push_back(fdp.ConsumeIntegralInRange<size_t>(1, 64));
  std::vector<uint8_t> stream = fdp.ConsumeRemainingBytes<uint8_t>();
  sink events;
  online_session s(events, events);
  events.s = &s;
  s.reset(1000, 3, 256);
  size_t at = 0;
  for (size_t i = 0; at < stream.size(); ++i) {
    const size_t n = std::min(cuts[i % cuts.size()], stream.size() - at);
    std::vector<uint8_t> piece(stream.begin() + long(at), stream.begin() + long(at + n));
    const int r = s.receive(piece.data(), piece.size());
    FUZZ_CHECK(r == 0 || s.state() == ONLINE_BAD);
    at += n;
  }
  return 0;
}
