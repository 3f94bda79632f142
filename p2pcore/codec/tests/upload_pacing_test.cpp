// Uploads under a speed limit, on an injected clock: the parts a request is
// cut into, the queue of requests waiting for the limiter, and TCP and UDP
// peers served together at 16, 100 and 255 KB/s: every peer is served, the
// limit is used, and no 1000 ms window carries more than it.
#include "p2pcore/codec/upload_pacing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "p2pcore/codec/speed_limiter.h"

using p2p::grant_queue;
using p2p::speed_limiter;
using p2p::upload_part_length;

namespace {

constexpr uint32_t kFrame = 4096;
constexpr uint32_t kBlock = 1024;

TEST(UploadPacing, PartLengths) {
  struct Row {
    const char* name;
    uint64_t limit;
    uint32_t length, unit, part;
  };
  const Row rows[] = {
      {"no limit", 0, 262144, kFrame, 262144},
      {"the default limit of 1 GiB", 0x40000000, 262144, kFrame, 262144},
      {"4 MB/s: a sixteenth of the window holds the piece", 4 << 20, 262144, kFrame, 262144},
      {"1 MB/s: a sixteenth of the window", 1 << 20, 262144, kFrame, 65536},
      {"255 KB/s: four frames", 255 * 1024, 262144, kFrame, 16384},
      {"16 KB/s: four frames", 16 * 1024, 262144, kFrame, 16384},
      {"the rest of a piece that fits the window still goes in parts", 255 * 1024, 245760, kFrame, 16384},
      {"13 KB/s: three frames", 13 * 1024, 262144, kFrame, 12288},
      {"below one frame: whole blocks", 3 * 1024, 262144, kFrame, 3072},
      {"a UDP run of 16 blocks at 15 KB/s", 15 * 1024, 16 * kBlock, kBlock, 15 * kBlock},
      {"a UDP run that fits", 16 * 1024, 16 * kBlock, kBlock, 16 * kBlock},
      {"not one block fits", 1000, 4096, kFrame, 0},
      {"a short piece under a low limit", 16 * 1024, 7840, kFrame, 7840},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(upload_part_length(r.limit, r.length, r.unit), r.part);
  }
}

TEST(UploadPacing, WaitingPeersTakeTurns) {
  grant_queue q;
  int a1, a2, a3, b1, c1;
  void* out = &a1;
  EXPECT_TRUE(q.park(&a1, 0, 1, false, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_TRUE(q.park(&a2, 0, 1, false, &out));
  EXPECT_TRUE(q.park(&b1, 1, 2, true, &out));
  EXPECT_TRUE(q.park(&a3, 0, 1, false, &out));
  EXPECT_TRUE(q.park(&c1, 0, 3, false, &out));
  EXPECT_EQ(q.size(), 5u);
  EXPECT_EQ(q.of_peer(1), 3u);
  // Peer 1, 2, 3 in turn, each with its oldest; a refused one keeps its place.
  std::vector<void*> order;
  grant_queue::waiter w;
  ASSERT_TRUE(q.take(&w));
  EXPECT_EQ(w.request, &a1);
  q.put_back(w);
  while (q.take(&w)) order.push_back(w.request);
  EXPECT_EQ(order, (std::vector<void*>{&a1, &b1, &c1, &a2, &a3}));
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.of_peer(1), 0u);

  // A refused request taken from the middle of the line is next again.
  EXPECT_TRUE(q.park(&a1, 0, 1, false, &out));
  EXPECT_TRUE(q.park(&b1, 0, 2, false, &out));
  EXPECT_TRUE(q.park(&a2, 0, 1, false, &out));
  ASSERT_TRUE(q.take(&w));
  ASSERT_TRUE(q.take(&w));
  EXPECT_EQ(w.request, &b1);
  q.put_back(w);
  order.clear();
  while (q.take(&w)) order.push_back(w.request);
  EXPECT_EQ(order, (std::vector<void*>{&b1, &a2}));
}

TEST(UploadPacing, WaitingRequestsAreBounded) {
  grant_queue q;
  int runs[grant_queue::kMaxReplaceablePerPeer + 2];
  void* out = nullptr;
  // A UDP peer's runs: its newest take the place of its oldest.
  for (int& r : runs) EXPECT_TRUE(q.park(&r, 1, 7, true, &out));
  EXPECT_EQ(out, &runs[1]);
  EXPECT_EQ(q.of_peer(7), grant_queue::kMaxReplaceablePerPeer);
  grant_queue::waiter w;
  ASSERT_TRUE(q.take(&w));
  EXPECT_EQ(w.request, &runs[2]);
  // A TCP peer's pieces are refused beyond its share.
  int piece;
  for (size_t i = 0; i < grant_queue::kMaxPerPeer; ++i) EXPECT_TRUE(q.park(&piece, 0, 8, false, &out));
  EXPECT_FALSE(q.park(&piece, 0, 8, false, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_TRUE(q.park(&piece, 0, 9, false, &out));
  grant_queue full;
  for (uint64_t i = 0; i < grant_queue::kMaxWaiting; ++i) ASSERT_TRUE(full.park(&piece, 0, i, false, &out));
  EXPECT_FALSE(full.park(&piece, 0, 999999, false, &out));
  EXPECT_EQ(full.of_peer(999999), 0u);
}

// TCP peers asking whole pieces of 256 KiB and UDP peers asking runs of 16
// blocks, served as the upload workers serve them: a request the limiter
// refuses, or that finds others waiting, waits; the waiting ones are tried
// every 10 ms in order; a piece's next part is asked for once a part went.
class served_peers {
 public:
  explicit served_peers(uint64_t limit) : limiter_(kStart) { limiter_.set_limit(limit); }
  ~served_peers() {
    grant_queue::waiter w;
    while (waiting_.take(&w)) delete static_cast<request*>(w.request);
  }

  void run(uint64_t seconds) {
    for (now_ = kStart; now_ < kStart + seconds * 1000; ++now_) {
      for (int p = 0; p < kTcpPeers; ++p)
        while (tcp_[p].pieces_out < 2) ask_piece(p);
      for (int p = 0; p < kUdpPeers; ++p) {
        udp_peer& u = udp_[p];
        u.in_flight.erase(std::remove_if(u.in_flight.begin(), u.in_flight.end(),
                                         [&](uint64_t at) { return now_ - at > 300; }),
                          u.in_flight.end());
        if (now_ % 100 == 0 && u.in_flight.size() < 4) ask_run(p);
      }
      if (now_ % 10 == 0) serve_waiting();
    }
  }

  struct grant {
    uint64_t at;
    uint32_t bytes;
  };
  std::vector<grant> grants;
  std::map<int, uint64_t> bytes_of;  // peer -> bytes sent (UDP peers from 100)
  std::vector<std::string> bad_parts;

 private:
  static constexpr uint64_t kStart = 9000000;
  static constexpr int kTcpPeers = 3, kUdpPeers = 2;
  static constexpr uint32_t kPiece = 262144;
  struct request {
    int peer;
    bool udp;
    uint32_t rest;      // bytes still to send
    uint32_t piece_at;  // bytes of the piece sent before
  };
  struct tcp_peer {
    int pieces_out = 0;
  };
  struct udp_peer {
    std::vector<uint64_t> in_flight;  // when each run was asked for
  };

  void ask_piece(int p) {
    ++tcp_[p].pieces_out;
    start(new request{p, false, kPiece, 0}, false);
  }
  void ask_run(int p) {
    udp_[p].in_flight.push_back(now_);
    start(new request{100 + p, true, 16 * kBlock, 0}, false);
  }

  // True when it went or was dropped; false when refused (it waits).
  bool start(request* r, bool its_turn) {
    if (!its_turn && !waiting_.empty()) return park(r);
    const uint32_t part = upload_part_length(limiter_.limit(), r->rest, r->udp ? kBlock : kFrame);
    if (limiter_.allow(part, now_) == 0) return its_turn ? false : park(r);
    grants.push_back({now_, part});
    bytes_of[r->peer] += part;
    if (!r->udp && part % kFrame != 0 && part != r->rest)
      bad_parts.push_back("a part of " + std::to_string(part) + " bytes in the middle of a piece");
    r->rest -= part;
    r->piece_at += part;
    if (r->rest > 0) return start(r, false);
    if (!r->udp) --tcp_[r->peer].pieces_out;
    delete r;
    return true;
  }
  bool park(request* r) {
    void* pushed_out = nullptr;
    const bool parked = waiting_.park(r, r->udp, uint64_t(r->peer), r->udp, &pushed_out);
    delete static_cast<request*>(pushed_out);
    if (parked) return true;
    if (!r->udp) --tcp_[r->peer].pieces_out;  // refused: the peer asks again
    delete r;
    return true;
  }
  void serve_waiting() {
    grant_queue::waiter w;
    while (waiting_.take(&w)) {
      request* r = static_cast<request*>(w.request);
      if (!start(r, true)) {
        waiting_.put_back(w);
        return;
      }
    }
  }

  speed_limiter limiter_;
  grant_queue waiting_;
  uint64_t now_ = kStart;
  tcp_peer tcp_[kTcpPeers];
  udp_peer udp_[kUdpPeers];
};

TEST(UploadPacing, TcpAndUdpPeersUnderALimit) {
  for (uint64_t kb : {16, 100, 255}) {
    SCOPED_TRACE(std::to_string(kb) + " KB/s");
    const uint64_t limit = kb * 1024, seconds = 30;
    served_peers s(limit);
    s.run(seconds);
    EXPECT_EQ(s.bad_parts, std::vector<std::string>{});
    // Every 1000 ms (t - 1000, t] ending at a grant holds at most the limit.
    uint64_t in_window = 0, worst = 0, total = 0;
    size_t first = 0;
    for (size_t i = 0; i < s.grants.size(); ++i) {
      in_window += s.grants[i].bytes;
      total += s.grants[i].bytes;
      while (s.grants[first].at + 1000 <= s.grants[i].at) in_window -= s.grants[first++].bytes;
      worst = std::max(worst, in_window);
    }
    EXPECT_LE(worst, limit);
    EXPECT_GE(total, limit * seconds * 9 / 10) << "the limit was not used";
    // Each of the five peers got its share: they take turns.
    ASSERT_EQ(s.bytes_of.size(), 5u);
    for (const auto& [peer, bytes] : s.bytes_of) EXPECT_GE(bytes, total / 10) << "peer " << peer;
  }
}

}  // namespace
