// Fuzz target: one TCP connection accepted from a peer, both ways. The
// peer's stream (taken as it is, or as plain frames enciphered here, so that
// an inserted byte does not garble the rest) is cut into receives; between
// them the upload side answers what the connection handed on (the Check_Have,
// each read, each verify), sends answers of its own and stale ones, into a
// socket that takes everything, a budget of bytes, nothing, or fails.
// Receiving: nothing is handed on before Check_Have, no read outside the
// shared file, no more reads than one Req_data may ask for, and the user is
// made bad only by a broken stream or a request that needs the Check_Have.
// Sending: what reaches the socket deciphers to exactly the frames answered,
// in order, a block answer cut into 4096-byte frames headed by their block;
// stale answers and answers to a user without Check_Have send nothing; the
// waiting bytes never pass 80% of the 1 MiB buffer, and an answer is refused
// only when it would.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "fuzzers/fuzz_check.h"
#include "fuzzers/plain_stream.h"
#include "p2pcore/wire/online_session.h"
#include "p2pcore/wire/tests/frame_collector.h"
#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

constexpr uint64_t kFileSize = 5000 * 1024 + 17;
constexpr uint64_t kLogin = 1000;
// A frame's bytes besides its body: fixed fields, a header of up to 15
// bytes and, for the stream's first frame, the opening.
constexpr size_t kFrameOverhead = kFrameFixedSize + 15 + kStreamOpeningSize;

// The bytes answers are cut from; each byte tells its offset.
const uint8_t* AnswerData() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(640 * 1024);
    for (size_t i = 0; i < d.size(); ++i) d[i] = uint8_t(i * 7 + (i >> 11));
    return d;
  }();
  return data.data();
}
constexpr uint32_t kAnswerDataSize = 640 * 1024;

struct peer_socket : online_socket {
  enum Mode { kAll, kBudget, kBlocked, kFailing } mode = kAll;
  size_t budget = 0;
  std::vector<uint8_t> got;  // what the peer receives
  long send(const uint8_t* p, size_t n, int* error) override {
    size_t k = n;
    switch (mode) {
      case kAll:
        break;
      case kBudget:
        k = std::min(n, budget);
        budget -= k;
        break;
      case kBlocked:
        return 0;
      case kFailing:
        *error = 10054;
        return -1;
    }
    got.insert(got.end(), p, p + k);
    return long(k);
  }
};

// An answer the upload side owes: its command, body and the block it starts at.
struct owed {
  uint16_t command;
  uint32_t offset;  // into AnswerData()
  uint32_t length;
  uint64_t first_block;
};

struct sink : online_session_events {
  online_session* s = nullptr;
  uint32_t piece_blocks = 256;
  bool checked = false;
  size_t pieces_in_frame = 0;
  DataPiece last_piece;
  std::deque<owed> owing;
  std::vector<p2p_test::Frame> sent;  // frames the connection packed, in order
  std::vector<p2p_test::Frame> announced;  // what the answer being made should pack
  bool active_answered = false;
  std::vector<uint8_t> active_frame;
  // The frame being dispatched and the state it found.
  bool in_frame = false;
  uint16_t frame_command = 0;
  uint32_t frame_length = 0;
  int frame_state = ONLINE_INIT;

  // A frame that left the user bad must be one that needs the Check_Have,
  // and a Req_data or a whole Req_VerifyRange before it does.
  void frame_done() {
    if (!in_frame) return;
    in_frame = false;
    if (frame_state != ONLINE_INIT || active_answered) return;
    if (frame_command == kTcpReqData || (frame_command == kTcpReqVerifyRange && frame_length == kReqVerifySize))
      FUZZ_CHECK(s->state() == ONLINE_BAD);
    if (s->state() == ONLINE_BAD)
      FUZZ_CHECK(frame_command == kTcpReqData || frame_command == kTcpFinishRange || frame_command == kTcpReqVerifyRange);
  }

  void on_active_request() override {
    // As the owner does: one frame 9 straight to the socket, then the user is done with.
    FUZZ_CHECK(s->state() == ONLINE_INIT || s->state() == ONLINE_CHECK_HAVE);
    active_frame = s->packed_frame(kTcpRspActive, nullptr, 0);
    active_answered = true;
    s->set_bad();
  }
  void on_check_have(const CheckHave&) override {
    checked = true;
    owing.push_back({kTcpCheckHaveAnswer, 0, uint32_t(kCheckHaveAnswerSize), 0});
  }
  void on_data_piece(const DataPiece& p) override {
    FUZZ_CHECK(checked && s->state() == ONLINE_CHECK_HAVE);
    FUZZ_CHECK(p.first_block <= p.last_block && p.last_block - p.first_block < piece_blocks);
    // A piece is cut at the end of the file; one that starts past it reads nothing.
    const uint64_t start = p.first_block * kBlockBytes;
    const uint64_t end = std::min((p.last_block + 1) * kBlockBytes, kFileSize);
    FUZZ_CHECK(p.length == (start < end ? end - start : 0));
    // A range's pieces follow each other without a gap.
    if (pieces_in_frame > 0 && !last_piece.last_of_range) FUZZ_CHECK(p.first_block == last_piece.last_block + 1);
    FUZZ_CHECK(++pieces_in_frame <= kMaxPiecesPerRequest);
    last_piece = p;
    owing.push_back({kTcpBlockData, uint32_t(p.first_block % 64) * 1024, p.length, p.first_block});
  }
  void on_finish_range(const HaveMap& m, const uint8_t* body, uint32_t length) override {
    FUZZ_CHECK(checked && s->state() == ONLINE_CHECK_HAVE);
    FUZZ_CHECK(m.entries + size_t(m.width) * m.count == body + length);
  }
  void on_verify(const VerifyRequest&) override {
    FUZZ_CHECK(checked && s->state() == ONLINE_CHECK_HAVE);
    owing.push_back({kTcpVerifyAnswer, 100, 58, 0});
  }
  uint64_t shared_file_size(const uint8_t*) override { return kFileSize; }
  void on_frame_received(uint16_t command, uint32_t length) override {
    FUZZ_CHECK(length <= kFrameMaxBody);
    frame_done();
    in_frame = true;
    frame_command = command;
    frame_length = length;
    frame_state = s->state();
    pieces_in_frame = 0;
  }
  void on_frame_sent(uint16_t command, size_t bytes) override {
    // Frames are packed in the order the answer lays them out.
    FUZZ_CHECK(sent.size() < announced.size());
    const p2p_test::Frame& f = announced[sent.size()];
    FUZZ_CHECK(f.command == command && bytes >= kFrameFixedSize + f.body.size() && bytes <= kFrameOverhead + f.body.size());
    sent.push_back(f);
  }
  void log(int, const std::string&) override {}
};

// The frames an answer is to go out as: a block answer in pieces of 4096
// bytes, each headed by u32 block (the first block + 4 per piece) and u16
// length; any other as one frame.
std::vector<p2p_test::Frame> AnswerFrames(const owed& a) {
  const uint8_t* data = AnswerData() + a.offset;
  if (a.command != kTcpBlockData) return {{a.command, std::vector<uint8_t>(data, data + a.length)}};
  std::vector<p2p_test::Frame> frames;
  for (uint32_t at = 0, i = 0; at < a.length; at += 4096, ++i) {
    const uint32_t n = std::min<uint32_t>(4096, a.length - at);
    std::vector<uint8_t> body(6);
    store_u32le(body.data(), uint32_t(a.first_block + 4ull * i));
    body[4] = uint8_t(n);
    body[5] = uint8_t(n >> 8);
    body.insert(body.end(), data + at, data + at + n);
    frames.push_back({kTcpBlockData, std::move(body)});
  }
  return frames;
}

struct connection {
  sink events;
  peer_socket socket;
  online_session s{events, socket};
  uint64_t now = kLogin;
  size_t announced_before = 0;

  // One answer as a worker sends it; stale makes its stamp one of an older connection.
  void answer(const owed& a, int stale) {
    answer_stamp stamp{s.login_time(), s.user_id(), 0, a.first_block};
    if (stale == 1) stamp.login_time += 1;
    if (stale == 2) stamp.user_id ^= 1;
    if (stale == 3) stamp.flag = 1;
    const int before = s.state();
    const size_t waiting = s.waiting();
    const std::vector<p2p_test::Frame> frames = AnswerFrames(a);
    events.announced.insert(events.announced.end(), frames.begin(), frames.end());
    const size_t packed = events.sent.size();
    const bool ok = s.answer(a.command, AnswerData() + a.offset, a.length, stamp, now);
    const size_t made = events.sent.size() - packed;
    // What was announced but not packed never will be.
    events.announced.resize(events.sent.size());
    if (stale != 0 || before != ONLINE_CHECK_HAVE) {
      // Refused, or dropped for a user without Check_Have: nothing is packed.
      FUZZ_CHECK(made == 0 && s.waiting() == waiting);
      FUZZ_CHECK(ok == (stale == 0 && before == ONLINE_INIT));
      return;
    }
    if (ok) {
      FUZZ_CHECK(made == frames.size() && s.last_active() == now);
    } else {
      // Only a failing socket or the buffer's limit refuses an answer, and the user is bad.
      FUZZ_CHECK(s.state() == ONLINE_BAD);
      if (socket.mode != peer_socket::kFailing && made < frames.size()) {
        FUZZ_CHECK(s.waiting() + frames[made].body.size() + kFrameOverhead > kOnlineSendLimit);
      }
    }
    FUZZ_CHECK(s.waiting() <= kOnlineSendLimit);
  }

  void check_timeout(int mode, uint64_t at) {
    const uint64_t idle = mode == 1 ? 5 : 20;
    const bool expired = at > s.last_active() + idle || (s.last_active() == s.login_time() && at > s.login_time() + 10);
    FUZZ_CHECK(s.is_timed_out(mode, at) == expired);
    if (expired) FUZZ_CHECK(s.state() == ONLINE_BAD);
  }

  // What reached the peer deciphers to the frames packed, in order: all of
  // them once nothing waits.
  void check_sent() {
    p2p_test::Collector peer;
    std::vector<uint8_t> bytes = socket.got;
    if (!bytes.empty()) FUZZ_CHECK(peer.unpack(bytes.data(), bytes.size()) == 0);
    FUZZ_CHECK(peer.frames.size() <= events.sent.size());
    FUZZ_CHECK(std::equal(peer.frames.begin(), peer.frames.end(), events.sent.begin()));
    if (s.state() != ONLINE_BAD && s.waiting() == 0) FUZZ_CHECK(peer.frames.size() == events.sent.size());
    FUZZ_CHECK(s.bytes_sent() == socket.got.size());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const bool plain = fdp.ConsumeBool();
  const uint16_t seed = fdp.ConsumeIntegral<uint16_t>();
  const uint32_t piece_blocks = fdp.ConsumeIntegralInRange<uint32_t>(1, 512);
  std::vector<size_t> cuts;
  for (int i = 0; i < 4; ++i) cuts.push_back(fdp.ConsumeIntegralInRange<size_t>(1, 64));
  // Four bytes a step between the receives: what the upload side does.
  const std::vector<uint8_t> steps = fdp.ConsumeBytes<uint8_t>(4 * fdp.ConsumeIntegralInRange<size_t>(0, 48));
  std::vector<uint8_t> stream = fdp.ConsumeRemainingBytes<uint8_t>();
  if (plain) stream = EncipheredStream(seed, stream);

  connection c;
  c.events.s = &c.s;
  c.events.piece_blocks = piece_blocks;
  c.s.reset(kLogin, 3, piece_blocks);
  p2p_test::Collector parallel;  // the same stream, to tell a broken stream from a refused request
  size_t at = 0, step = 0;
  auto act = [&](size_t k) {
    const uint8_t* op = steps.data() + 4 * k;
    const uint32_t ab = uint32_t(op[1]) << 8 | op[2];
    switch (op[0] % 8) {
      case 0:
      case 1:
        if (!c.events.owing.empty()) {
          const owed a = c.events.owing.front();
          c.events.owing.pop_front();
          c.answer(a, op[3] % 8 < 4 ? op[3] % 8 : 0);
        }
        break;
      case 2:  // a block answer of up to 512 KiB
        c.answer({kTcpBlockData, (op[3] % 128) * 1024u, std::min<uint32_t>(ab * 8, kAnswerDataSize - 128 * 1024),
                  uint64_t(op[3]) << 24 | ab},
                 0);
        break;
      case 3:
        c.socket.mode = peer_socket::Mode(op[1] % 4);
        c.socket.budget = size_t(op[2] << 8 | op[3]) * 64;
        break;
      case 4:
        c.s.send_cmd(nullptr, 0);
        FUZZ_CHECK(c.s.waiting() <= kOnlineSendLimit);
        break;
      case 5:
        c.check_timeout(op[1] & 1, c.now + op[2] % 32);
        break;
      case 6:
        c.now += op[1] % 16;
        break;
      case 7: {
        static const uint16_t commands[] = {kTcpCheckHaveAnswer, kTcpVerifyAnswer, kTcpBackOff, kTcpRspActive, 1234};
        c.answer({commands[op[1] % 5], op[2] * 16u, op[3] * 16u, 0}, 0);
        break;
      }
    }
  };
  for (size_t i = 0; at < stream.size() && !c.events.active_answered; ++i) {
    const size_t n = std::min(cuts[i % cuts.size()], stream.size() - at);
    std::vector<uint8_t> piece(stream.begin() + long(at), stream.begin() + long(at + n));
    std::vector<uint8_t> copy = piece;
    const bool broke = parallel.state() >= 0 && parallel.unpack(copy.data(), copy.size()) < 0;
    const int r = c.s.receive(piece.data(), piece.size());
    FUZZ_CHECK(r == 0 || c.s.state() == ONLINE_BAD);
    if (!broke) c.events.frame_done();
    c.events.in_frame = false;
    at += n;
    if (step < steps.size() / 4) act(step++);
  }
  if (c.events.active_answered) {
    // Answered with one frame 9; the first frame of the stream carries the opening.
    p2p_test::Collector peer;
    std::vector<uint8_t> bytes = c.events.active_frame;
    const bool first = c.events.sent.empty();
    FUZZ_CHECK(peer.unpack(bytes.data(), bytes.size()) == 0 || !first);
    if (first) {
      FUZZ_CHECK(c.events.active_frame.size() >= kStreamOpeningSize + kFrameFixedSize);
      FUZZ_CHECK(peer.frames.size() == 1 && peer.frames[0].command == kTcpRspActive && peer.frames[0].body.empty());
    }
    return 0;
  }
  while (step < steps.size() / 4) act(step++);
  c.check_sent();
  // With a socket that takes everything, all that waits goes out.
  c.socket.mode = peer_socket::kAll;
  if (c.s.send_cmd(nullptr, 0)) FUZZ_CHECK(c.s.waiting() == 0);
  c.check_sent();
  return 0;
}
