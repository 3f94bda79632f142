// One accepted TCP peer on an injected clock: the request rules of each
// command, Req_data pieces, answers cut into frames, the send buffer's limit,
// refused stale answers and the time-outs.
#include "p2pcore/wire/online_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "p2pcore/wire/wire_bytes.h"

using namespace p2p;

namespace {

const uint8_t kFid[16] = {0xF1, 0xD0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
constexpr uint64_t kT0 = 1700000000;
constexpr uint64_t kFileSize = 1000 * 1024;

// What the peer would see: the frames of the bytes the connection sent.
class peer_reader : public DataInPacking {
 public:
  std::vector<std::pair<uint16_t, std::vector<uint8_t>>> frames;

 protected:
  void on_frame(uint16_t command, const uint8_t* body, uint32_t length) override {
    frames.push_back({command, std::vector<uint8_t>(body, body + length)});
  }
};

struct fake_socket : online_socket {
  std::vector<uint8_t> sent;
  size_t take_per_call = SIZE_MAX;  // 0: always would block
  int fail_with = 0;
  long send(const uint8_t* p, size_t n, int* error) override {
    if (fail_with) {
      *error = fail_with;
      return -1;
    }
    const size_t k = std::min(n, take_per_call);
    sent.insert(sent.end(), p, p + k);
    return long(k);
  }
};

struct events : online_session_events {
  int active = 0;
  std::vector<CheckHave> check_haves;
  std::vector<DataPiece> pieces;
  std::vector<HaveMap> finishes;
  std::vector<VerifyRequest> verifies;
  std::vector<std::string> lines;
  void on_active_request() override { ++active; }
  void on_check_have(const CheckHave& c) override { check_haves.push_back(c); }
  void on_data_piece(const DataPiece& p) override { pieces.push_back(p); }
  void on_finish_range(const HaveMap& m, const uint8_t*, uint32_t) override { finishes.push_back(m); }
  void on_verify(const VerifyRequest& r) override { verifies.push_back(r); }
  uint64_t shared_file_size(const uint8_t fid[16]) override { return memcmp(fid, kFid, 16) == 0 ? kFileSize : 0; }
  void on_frame_received(uint16_t, uint32_t) override {}
  void on_frame_sent(uint16_t, size_t) override {}
  void log(int, const std::string& text) override { lines.push_back(text); }
  size_t count_lines(const char* start) const {
    size_t n = 0;
    for (const std::string& l : lines) n += l.rfind(start, 0) == 0;
    return n;
  }
};

// The peer's side of the stream into the connection.
struct peer_writer {
  DataOutPacking out{77};
  std::vector<uint8_t> frame(uint16_t command, const std::vector<uint8_t>& body) {
    tcp_frame f;
    f.new_frame(command, 3);
    f.append(body.data(), body.size());
    out.pack(f);
    return f.buffer();
  }
};

struct connection {
  fake_socket socket;
  events ev;
  online_session s{ev, socket};
  peer_writer peer;
  connection() { s.reset(kT0, 5, 256); }
  int send(uint16_t command, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> bytes = peer.frame(command, body);
    return s.receive(bytes.data(), bytes.size());
  }
  void check_have(uint64_t user = 4242) { ASSERT_EQ(send(kTcpCheckHave, check_have_body(user, kFid, 0)), 0); }
  answer_stamp stamp(uint64_t first_block = 0) const { return {s.login_time(), s.user_id(), 0, first_block}; }
};

std::vector<DataRange> ranges(size_t n) {
  std::vector<DataRange> r;
  for (size_t i = 0; i < n; ++i) r.push_back({uint32_t(i * 3), uint32_t(i * 3 + 1)});
  return r;
}

}  // namespace

TEST(OnlineSession, ReqActiveIsAnsweredWithOneFrame) {
  connection c;
  EXPECT_EQ(c.send(kTcpReqActive, {1}), 0);  // a body: refused, nothing more
  EXPECT_EQ(c.ev.active, 0);
  EXPECT_EQ(c.ev.lines.back(), "TCP::Client Req_Active len=[1] error!");
  EXPECT_EQ(c.send(kTcpReqActive, {}), 0);
  EXPECT_EQ(c.ev.active, 1);
  std::vector<uint8_t> reply = c.s.packed_frame(kTcpRspActive, nullptr, 0);
  peer_reader r;
  ASSERT_EQ(r.unpack(reply.data(), reply.size()), 0);  // the opening first, then one frame
  ASSERT_EQ(r.frames.size(), 1u);
  EXPECT_EQ(r.frames[0].first, kTcpRspActive);
  EXPECT_TRUE(r.frames[0].second.empty());
  EXPECT_EQ(c.s.state(), ONLINE_INIT);  // a Req_Active connection never gets further
}

TEST(OnlineSession, RequestsBeforeCheckHaveMakeTheUserBad) {
  struct Row {
    const char* name;
    uint16_t command;
    std::vector<uint8_t> body;
    const char* line;
  };
  const std::vector<uint8_t> finish = have_map_body(0, kFid, 0, 1024, 8, {{0, 4}});
  const Row rows[] = {
      {"Req_data", kTcpReqData, req_data_body(1, ranges(1)), "TCP::Client Should first recv the checkhave!"},
      {"finish_range", kTcpFinishRange, finish, "TCP::Client checkhave packet!"},
      {"Req_VerifyRange", kTcpReqVerifyRange, verify_request_body(kFid, 1, 0, 0, 1024),
       "TCP::Client Should Recv first checkhave!"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    connection c;
    EXPECT_EQ(c.send(r.command, r.body), -1);
    EXPECT_EQ(c.s.state(), ONLINE_BAD);
    EXPECT_EQ(c.ev.count_lines(r.line), 1u);
    EXPECT_TRUE(c.ev.pieces.empty() && c.ev.finishes.empty() && c.ev.verifies.empty());
    // Nothing more is read from a bad user.
    std::vector<uint8_t> more = c.peer.frame(kTcpCheckHave, check_have_body(1, kFid, 0));
    EXPECT_EQ(c.s.receive(more.data(), more.size()), -1);
    EXPECT_TRUE(c.ev.check_haves.empty());
  }
}

TEST(OnlineSession, LengthErrorsKeepTheConnection) {
  struct Row {
    const char* name;
    uint16_t command;
    std::vector<uint8_t> body;
    const char* line;
  };
  std::vector<uint8_t> counts_more = req_data_body(1, ranges(2));
  counts_more[8] = 3;
  const Row rows[] = {
      {"Check_Have of 255 bytes", kTcpCheckHave, std::vector<uint8_t>(255, 0), "TCP::Client Check_Have len=[255] error!"},
      {"65 ranges", kTcpReqData, req_data_body(1, ranges(65)), "TCP::Client Req_data too many range=[65]!"},
      {"body shorter than its range count", kTcpReqData, counts_more,
       "TCP::Client Req_data len=[28] holds fewer ranges than it counts"},
      {"first after last", kTcpReqData, req_data_body(1, {{9, 8}}),
       "TCP::Client Req_data range with its first block after its last"},
      {"finish_range of 33 bytes", kTcpFinishRange, std::vector<uint8_t>(33, 0),
       "TCP::Client finish_range length=[33] error -1"},
      {"finish_range longer than it counts", kTcpFinishRange, std::vector<uint8_t>(35, 0),
       "TCP::CP2pSession::incoming_finish_range"},
      {"Req_VerifyRange of 49 bytes", kTcpReqVerifyRange, std::vector<uint8_t>(49, 0),
       "TCP::Client Req_VerifyRange len error=[49]!"},
      {"an unknown command", 99, {1, 2}, "TCP::Client recv Unkown CMD=[99]!"},
      {"back-off from a peer is ignored", kTcpBackOff, {1}, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    connection c;
    c.check_have();
    EXPECT_EQ(c.send(r.command, r.body), 0);
    EXPECT_EQ(c.s.state(), ONLINE_CHECK_HAVE);
    if (r.line) {
      EXPECT_EQ(c.ev.count_lines(r.line), 1u);
    }
    EXPECT_TRUE(c.ev.pieces.empty() && c.ev.finishes.empty() && c.ev.verifies.empty());
  }
}

TEST(OnlineSession, RequestsAfterCheckHave) {
  connection c;
  c.check_have(4242);
  ASSERT_EQ(c.ev.check_haves.size(), 1u);
  EXPECT_EQ(c.s.user_id(), 4242u);

  EXPECT_EQ(c.send(kTcpReqData, req_data_body(7, {{1, 600}})), 0);
  ASSERT_EQ(c.ev.pieces.size(), 3u);
  const std::pair<uint64_t, uint64_t> expected[] = {{1, 256}, {257, 512}, {513, 600}};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(c.ev.pieces[i].first_block, expected[i].first);
    EXPECT_EQ(c.ev.pieces[i].last_block, expected[i].second);
    EXPECT_EQ(c.ev.pieces[i].request_id, 7u);
  }
  // Every piece but the last names its range.
  EXPECT_EQ(c.ev.count_lines("Client the range start 1K and end 600K"), 2u);
  EXPECT_EQ(c.ev.count_lines("Client the range start"), 2u);

  // Ranges that reach past the end of the file (1000 blocks): cut at its end;
  // a piece that starts past it goes on with nothing to read, to be refused.
  c.ev.pieces.clear();
  EXPECT_EQ(c.send(kTcpReqData, req_data_body(9, {{990, 1100}, {1000, 1005}})), 0);
  ASSERT_EQ(c.ev.pieces.size(), 2u);
  EXPECT_EQ(c.ev.pieces[0].first_block, 990u);
  EXPECT_EQ(c.ev.pieces[0].length, 10u * 1024);
  EXPECT_EQ(c.ev.pieces[1].first_block, 1000u);
  EXPECT_EQ(c.ev.pieces[1].length, 0u);

  c.ev.pieces.clear();
  EXPECT_EQ(c.send(kTcpReqData, req_data_body(8, ranges(64))), 0);
  EXPECT_EQ(c.ev.pieces.size(), 64u);

  std::vector<uint8_t> finish = have_map_body(0, kFid, 5, 1024, 8, {{0, 4}});
  EXPECT_EQ(c.send(kTcpFinishRange, finish), 0);
  ASSERT_EQ(c.ev.finishes.size(), 1u);
  EXPECT_EQ(c.ev.finishes[0].flag, 5);

  const uint8_t other[16] = {9};
  EXPECT_EQ(c.send(kTcpReqVerifyRange, verify_request_body(other, 7, 1024, 2048, 4096)), 0);
  ASSERT_EQ(c.ev.verifies.size(), 1u);
  EXPECT_EQ(0, memcmp(c.ev.verifies[0].file_hash, kFid, 16));  // the Check_Have file
  EXPECT_EQ(c.ev.verifies[0].start, 2048u);
  EXPECT_EQ(c.ev.verifies[0].length, 4096u);
}

TEST(OnlineSession, StreamOneByteAtATime) {
  connection whole, bytewise;
  whole.check_have();
  std::vector<uint8_t> stream = bytewise.peer.frame(kTcpCheckHave, check_have_body(1, kFid, 0));
  std::vector<uint8_t> more = bytewise.peer.frame(kTcpReqData, req_data_body(2, {{0, 9}}));
  stream.insert(stream.end(), more.begin(), more.end());
  for (uint8_t& b : stream) ASSERT_EQ(bytewise.s.receive(&b, 1), 0);
  EXPECT_EQ(bytewise.ev.check_haves.size(), 1u);
  ASSERT_EQ(bytewise.ev.pieces.size(), 1u);
  EXPECT_EQ(bytewise.ev.pieces[0].last_block, 9u);

  connection junk;
  std::vector<uint8_t> opening = junk.peer.frame(kTcpCheckHave, check_have_body(1, kFid, 0));
  ASSERT_EQ(junk.s.receive(opening.data(), opening.size()), 0);
  std::mt19937 gen(5);
  std::vector<uint8_t> noise(4096);
  for (uint8_t& b : noise) b = uint8_t(gen());
  EXPECT_EQ(junk.s.receive(noise.data(), noise.size()), -1);
  EXPECT_EQ(junk.s.state(), ONLINE_BAD);
  EXPECT_EQ(junk.ev.count_lines("TCP::DataInPacking error!"), 1u);
}

TEST(OnlineSession, BlockAnswersGoOutInFramesOf4096) {
  connection c;
  c.check_have();
  std::vector<uint8_t> data(10000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 13);
  ASSERT_TRUE(c.s.answer(kTcpBlockData, data.data(), uint32_t(data.size()), c.stamp(300), kT0 + 1));
  EXPECT_EQ(c.s.last_active(), kT0 + 1);
  peer_reader r;
  ASSERT_EQ(r.unpack(c.socket.sent.data(), c.socket.sent.size()), 0);
  ASSERT_EQ(r.frames.size(), 3u);
  const std::pair<uint32_t, uint16_t> expected[] = {{300, 4096}, {304, 4096}, {308, 1808}};
  std::vector<uint8_t> joined;
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(r.frames[i].first, kTcpBlockData);
    const std::vector<uint8_t>& body = r.frames[i].second;
    ASSERT_EQ(body.size(), 6u + expected[i].second);
    EXPECT_EQ(load_u32le(body.data()), expected[i].first);
    EXPECT_EQ(body[4] | body[5] << 8, expected[i].second);
    joined.insert(joined.end(), body.begin() + 6, body.end());
  }
  EXPECT_EQ(joined, data);

  // Another command is one frame; an answer for another connection is refused.
  std::vector<uint8_t> back = back_off_body(0, kBackOffMs);
  ASSERT_TRUE(c.s.answer(kTcpBackOff, back.data(), 8, c.stamp(), kT0 + 2));
  answer_stamp stale = c.stamp();
  stale.login_time -= 1;
  EXPECT_FALSE(c.s.answer(kTcpBackOff, back.data(), 8, stale, kT0 + 3));
  answer_stamp other_user = c.stamp();
  other_user.user_id += 1;
  EXPECT_FALSE(c.s.answer(kTcpBackOff, back.data(), 8, other_user, kT0 + 3));
  answer_stamp flagged = c.stamp();
  flagged.flag = 1;
  EXPECT_FALSE(c.s.answer(kTcpBackOff, back.data(), 8, flagged, kT0 + 3));
  EXPECT_EQ(c.ev.count_lines("online_user::set_send_buff login time or userid diff"), 3u);
  EXPECT_EQ(c.s.last_active(), kT0 + 2);
}

TEST(OnlineSession, SendBufferLimit) {
  connection c;
  c.check_have();
  c.socket.take_per_call = 0;  // a peer that stops reading
  std::vector<uint8_t> filler(838000, 0x55);
  ASSERT_TRUE(c.s.send_cmd(filler.data(), filler.size()));
  EXPECT_EQ(c.s.waiting(), 838000u);
  std::vector<uint8_t> answer(1000, 1);
  EXPECT_FALSE(c.s.answer(kTcpBlockData, answer.data(), 1000, c.stamp(), kT0 + 1));
  EXPECT_EQ(c.s.state(), ONLINE_BAD);
  EXPECT_EQ(c.ev.count_lines("online_user::send_cmd user_size[838000]"), 1u);
  EXPECT_FALSE(c.s.answer(kTcpBlockData, answer.data(), 10, c.stamp(), kT0 + 1));

  connection partial;
  partial.check_have();
  partial.socket.take_per_call = 0;
  std::vector<uint8_t> data(20000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i);
  ASSERT_TRUE(partial.s.answer(kTcpBlockData, data.data(), 20000, partial.stamp(), kT0));
  partial.socket.take_per_call = 777;  // the socket takes a little per call, in order
  ASSERT_TRUE(partial.s.send_cmd(nullptr, 0));
  EXPECT_EQ(partial.s.waiting(), 0u);
  peer_reader r;
  ASSERT_EQ(r.unpack(partial.socket.sent.data(), partial.socket.sent.size()), 0);
  EXPECT_EQ(r.frames.size(), 5u);

  connection failing;
  failing.check_have();
  failing.socket.fail_with = 10054;
  EXPECT_FALSE(failing.s.answer(kTcpBackOff, data.data(), 8, failing.stamp(), kT0));
  EXPECT_EQ(failing.s.state(), ONLINE_BAD);
  EXPECT_EQ(failing.ev.count_lines("online_user::send_cmd Send errno=[10054]!"), 1u);

  connection fresh;  // no Check_Have yet: answers are dropped, nothing is packed
  EXPECT_TRUE(fresh.s.answer(kTcpBackOff, data.data(), 8, {fresh.s.login_time(), 0, 0, 0}, kT0));
  EXPECT_TRUE(fresh.socket.sent.empty());
}

TEST(OnlineSession, TimeOuts) {
  struct Row {
    const char* name;
    bool answered;    // an answer went out at kT0 + 3
    int mode;
    uint64_t at;      // seconds after login
    bool timed_out;
  };
  const Row rows[] = {
      {"never active: 10 s after login", false, 0, 10, false},
      {"never active: 11 s after login", false, 0, 11, true},
      {"never active, offline: 11 s", false, 1, 11, true},
      {"active: 20 s after the answer", true, 0, 23, false},
      {"active: 21 s after the answer", true, 0, 24, true},
      {"offline: 5 s after the answer", true, 1, 8, false},
      {"offline: 6 s after the answer", true, 1, 9, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    connection c;
    c.check_have();
    if (r.answered) {
      const uint8_t b[8] = {};
      ASSERT_TRUE(c.s.answer(kTcpBackOff, b, 8, c.stamp(), kT0 + 3));
    }
    EXPECT_EQ(c.s.is_timed_out(r.mode, kT0 + r.at), r.timed_out);
    EXPECT_EQ(c.s.state() == ONLINE_BAD, r.timed_out);
  }
}

// The Check_Have record is written by the receive path while upload workers
// and answers read it: a reader never sees half of one Check_Have and half of
// the next.
TEST(OnlineSession, CheckHaveIsReadWhole) {
  connection c;
  uint8_t fids[2][16];
  std::memset(fids[0], 0x11, 16);
  std::memset(fids[1], 0x22, 16);
  std::vector<std::vector<uint8_t>> frames;
  for (int i = 0; i < 20000; ++i)
    frames.push_back(c.peer.frame(kTcpCheckHave, check_have_body(1 + i % 2, fids[i % 2], 0)));
  std::atomic<bool> done{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    while (!done) {
      const CheckHave h = c.s.check_have();
      ++reads;
      if (h.user_id == 0) continue;
      if (std::memcmp(h.fid, fids[h.user_id - 1], 16) != 0) ++torn;
    }
  });
  while (reads == 0) std::this_thread::yield();
  for (std::vector<uint8_t>& f : frames) ASSERT_EQ(c.s.receive(f.data(), f.size()), 0);
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0);
}
