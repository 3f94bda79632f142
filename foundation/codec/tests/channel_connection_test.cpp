// A server connection's frames in and out, fed by hand on a made-up clock:
// requests gathered from pieces cut anywhere, bad totals, the step each byte
// leaves the connection in and when that step's deadline runs out, and the
// reply's bytes as the socket takes them, against the whole-body encoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "foundation/codec/channel_connection.h"
#include "foundation/codec/channel_frame.h"
#include "foundation/codec/crc32.h"
#include "foundation/codec/tests/channel_reply_drain.h"

namespace {

std::vector<uint8_t> Frame(std::vector<uint8_t> body) {
  const uint32_t checksum = IpcEncodeBody(body.data(), uint32_t(body.size()));
  std::vector<uint8_t> frame(kChannelHeaderSize + body.size());
  ChannelStoreU32(frame.data(), uint32_t(body.size()) + 4);
  ChannelStoreU32(frame.data() + 4, checksum);
  std::copy(body.begin(), body.end(), frame.begin() + kChannelHeaderSize);
  return frame;
}

std::vector<uint8_t> Bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// Puts n bytes of data into the connection as a receive would.
void Feed(ChannelConnection& c, const uint8_t* data, uint32_t n, uint64_t now) {
  ASSERT_LE(n, c.RecvRoom());
  std::copy(data, data + n, c.RecvSpace());
  c.Received(n, now);
}

// n bytes of the reply go out, as a send of what NextPieces offers would take them.
void Give(ChannelConnection& c, uint32_t n, uint64_t now) {
  ChannelPiece pieces[2];
  c.NextPieces(pieces);
  c.Sent(n, now);
}

class ChannelConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { IpcBuildMask(); }
};

}  // namespace

// Several requests sent without waiting, cut into pieces anywhere: each comes
// out whole, in order, and the bytes after it wait for their turn.
TEST_F(ChannelConnectionTest, RequestsFromPiecesCutAnywhere) {
  const std::vector<uint8_t> bodies[] = {Bytes("Eone"), {}, Bytes("Ethree"), std::vector<uint8_t>(1070, 0x33)};
  std::vector<uint8_t> stream;
  for (const auto& b : bodies) {
    const std::vector<uint8_t> f = Frame(b);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  struct Row {
    const char* name;
    uint32_t piece;  // bytes a receive brings
  };
  static const Row rows[] = {{"a byte at a time", 1},   {"three at a time", 3},   {"inside the checksum", 6},
                             {"ten at a time", 10},     {"a frame and more", 17}, {"all there is", 100000}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ChannelConnection c;
    size_t fed = 0, next = 0;
    uint64_t now = 0;
    while (next < std::size(bodies)) {
      if (c.Check() == ChannelConnection::Request::kReady) {
        ASSERT_EQ(c.RequestLength(), bodies[next].size());
        std::vector<uint8_t> body(c.RequestBody(), c.RequestBody() + c.RequestLength());
        ASSERT_TRUE(IpcDecodeBody(body.data(), uint32_t(body.size()), c.RequestChecksum()));
        EXPECT_EQ(body, bodies[next]) << "request " << next;
        c.DropRequest(now);
        ++next;
        continue;
      }
      ASSERT_EQ(c.Check(), ChannelConnection::Request::kPartial);
      ASSERT_LT(fed, stream.size()) << "request " << next << " never completed";
      const uint32_t n = uint32_t(std::min<size_t>({r.piece, stream.size() - fed, c.RecvRoom()}));
      ASSERT_GT(n, 0u);
      Feed(c, stream.data() + fed, n, ++now);
      fed += n;
    }
    EXPECT_EQ(fed, stream.size());
    EXPECT_EQ(c.Step(), ChannelStep::kIdle);
  }
}

// A total with no room for the checksum, or above the bound, is refused as
// soon as its four bytes are in; the largest allowed one fits whole.
TEST_F(ChannelConnectionTest, TotalsAgainstTheBound) {
  struct Row {
    const char* name;
    uint32_t total;
    ChannelConnection::Request afterTotal;
  };
  static const Row rows[] = {
      {"zero", 0, ChannelConnection::Request::kBadTotal},
      {"three", 3, ChannelConnection::Request::kBadTotal},
      {"empty body", 4, ChannelConnection::Request::kPartial},
      {"the largest request", kChannelMaxRequestTotal, ChannelConnection::Request::kPartial},
      {"one above it", kChannelMaxRequestTotal + 1, ChannelConnection::Request::kBadTotal},
      {"a reply's bound", kChannelMaxTotal, ChannelConnection::Request::kBadTotal},
      {"all ones", 0xFFFFFFFFu, ChannelConnection::Request::kBadTotal},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ChannelConnection c;
    uint8_t total[4];
    ChannelStoreU32(total, r.total);
    Feed(c, total, 3, 1);
    EXPECT_EQ(c.Check(), ChannelConnection::Request::kPartial);
    Feed(c, total + 3, 1, 2);
    ASSERT_EQ(c.Check(), r.afterTotal);
    if (r.afterTotal != ChannelConnection::Request::kPartial) continue;
    // The whole frame fits in the room left.
    ASSERT_EQ(c.RecvRoom(), kChannelMaxRequestTotal);
    const std::vector<uint8_t> block(r.total, 0);
    Feed(c, block.data(), r.total, 3);
    EXPECT_EQ(c.Check(), ChannelConnection::Request::kReady);
  }
}

// Each step's deadline runs from the moment the step began: the total from
// its first byte, the block from the total's last, each part of the reply
// from the end of the one before, and the next request from the end of the
// reply. Idle between frames has no deadline.
TEST_F(ChannelConnectionTest, StepsAndTheirDeadlines) {
  const std::vector<uint8_t> request = Frame(Bytes("Erequest"));
  const std::vector<uint8_t> next = Frame(Bytes("Enext"));
  std::vector<uint8_t> replyBody = Bytes("the reply");
  ChannelConnection c;
  struct Row {
    const char* event;
    ChannelStep step;
    uint64_t stepStart;
  };
  std::vector<Row> seen;
  auto note = [&](const char* event) { seen.push_back({event, c.Step(), c.StepStartMs()}); };
  note("start");
  Feed(c, request.data(), 2, 1000);
  note("half the total");
  Feed(c, request.data() + 2, 4, 2500);
  note("the total and part of the checksum");
  Feed(c, request.data() + 6, 3, 5400);
  note("more of the block");
  Feed(c, request.data() + 9, uint32_t(request.size() - 9), 5450);
  Feed(c, next.data(), 3, 5460);  // the next request's first bytes come along
  note("the request whole");
  c.StartReply(replyBody.data(), uint32_t(replyBody.size()), 0x1234u, 6000);
  note("reply started");
  Give(c, 3, 6100);
  note("part of the total out");
  Give(c, 2, 9000);
  note("the total out");
  Give(c, 3, 9001);
  note("the checksum out");
  Give(c, uint32_t(replyBody.size()), 9500);
  note("the body out");
  Feed(c, next.data() + 3, uint32_t(next.size() - 3), 9600);
  c.DropRequest(9700);
  note("the next request done with");

  const Row expected[] = {
      {"start", ChannelStep::kIdle, 0},
      {"half the total", ChannelStep::kRecvTotal, 1000},
      {"the total and part of the checksum", ChannelStep::kRecvBlock, 2500},
      {"more of the block", ChannelStep::kRecvBlock, 2500},
      {"the request whole", ChannelStep::kRecvBlock, 2500},
      {"reply started", ChannelStep::kSendTotal, 6000},
      {"part of the total out", ChannelStep::kSendTotal, 6000},
      {"the total out", ChannelStep::kSendChecksum, 9000},
      {"the checksum out", ChannelStep::kSendBody, 9001},
      {"the body out", ChannelStep::kRecvTotal, 9500},
      {"the next request done with", ChannelStep::kIdle, 9700},
  };
  ASSERT_EQ(seen.size(), std::size(expected));
  for (size_t i = 0; i < seen.size(); ++i) {
    SCOPED_TRACE(expected[i].event);
    EXPECT_EQ(int(seen[i].step), int(expected[i].step));
    if (expected[i].step != ChannelStep::kIdle) {
      EXPECT_EQ(seen[i].stepStart, expected[i].stepStart);
    }
  }

  struct Deadline {
    const char* name;
    uint64_t now;
    bool overdue;
  };
  ChannelConnection d;
  Feed(d, request.data(), 5, 1000);  // the block step begins at 1000
  static const Deadline deadlines[] = {
      {"just begun", 1000, false}, {"a moment before", 3999, false},
      {"at the deadline", 4000, true}, {"past it", 9000, true}};
  for (const Deadline& r : deadlines) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(d.Overdue(r.now, 3000), r.overdue);
  }
  ChannelConnection idle;
  EXPECT_FALSE(idle.Overdue(1000000, 3000)) << "an idle connection has no deadline";
}

// The reply's bytes, however the socket takes them, are the frame the
// whole-body encoder writes; the body is scrambled no further ahead of the
// send than a run.
TEST_F(ChannelConnectionTest, ReplyBytesAsTheSocketTakesThem) {
  std::mt19937 random(20261211);
  static const uint32_t kLengths[] = {0, 1, 1023, 1025, 300000, ChannelConnection::kScrambleRun - 1,
                                      ChannelConnection::kScrambleRun + 1, 2 * ChannelConnection::kScrambleRun + 5};
  static const uint32_t kChunks[] = {1, 7, 4096, 65536, 1u << 20};
  for (uint32_t length : kLengths) {
    for (uint32_t chunk : kChunks) {
      if (chunk < 4096 && length > 5000) continue;
      SCOPED_TRACE("length " + std::to_string(length) + ", sends of " + std::to_string(chunk));
      std::vector<uint8_t> plain(length);
      for (auto& b : plain) b = uint8_t(random());
      std::vector<uint8_t> body = plain;
      ChannelConnection c;
      c.StartReply(body.data(), length, Crc32Update(plain.data(), plain.size()), 1);
      ASSERT_TRUE(c.Sending());
      EXPECT_EQ(DrainReply(c, chunk, 2), Frame(plain));
      EXPECT_FALSE(c.Sending());
      EXPECT_EQ(c.Step(), ChannelStep::kIdle);
    }
  }
  // Before anything is sent, only the first run is scrambled.
  std::vector<uint8_t> plain(3 * ChannelConnection::kScrambleRun, 0);
  std::vector<uint8_t> body = plain;
  ChannelConnection c;
  c.StartReply(body.data(), uint32_t(body.size()), 0, 1);
  ChannelPiece pieces[2];
  ASSERT_EQ(c.NextPieces(pieces), 2u);
  EXPECT_EQ(pieces[0].length, kChannelHeaderSize);
  EXPECT_EQ(pieces[1].length, ChannelConnection::kScrambleRun);
  EXPECT_TRUE(std::equal(body.begin() + ChannelConnection::kScrambleRun, body.end(),
                         plain.begin() + ChannelConnection::kScrambleRun))
      << "bytes past the first run were scrambled before the send reached them";
}
