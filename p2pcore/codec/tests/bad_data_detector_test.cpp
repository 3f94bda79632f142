// Bad-data detection: grouping of test-block answers, the verdict (the group
// with the most peers wins; a tie or a lone answer decides nothing; zeros
// never win), the test's lifetime and when a peer is asked for the test block
// again, on an injected clock.
#include "p2pcore/codec/bad_data_detector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace p2p;

namespace {

std::vector<uint8_t> block_of(char kind) {
  std::vector<uint8_t> b(1024);
  if (kind == '0') return b;  // all zeros
  for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(kind + i * 7);
  return b;
}

struct Answer { uint64_t peer; char kind; uint32_t block = 12; };

}  // namespace

TEST(BadDataDetector, Grouping) {
  struct Case {
    const char* name;
    std::vector<Answer> answers;
    size_t groups;
    std::vector<uint64_t> bad;  // named by the last answer
  };
  const Case cases[] = {
      {"single answer", {{1, 'A'}}, 1, {}},
      {"A, A, B: peer 3 is bad", {{1, 'A'}, {2, 'A'}, {3, 'B'}}, 2, {3}},
      {"B first, then A, A: peer 1 is bad", {{1, 'B'}, {2, 'A'}, {3, 'A'}}, 2, {1}},
      {"A, B: two single groups decide nothing", {{1, 'A'}, {2, 'B'}}, 2, {}},
      {"A, A, B, B: a tie decides nothing", {{1, 'A'}, {2, 'A'}, {3, 'B'}, {4, 'B'}}, 2, {}},
      {"A, A, B, C: the largest group wins without a majority", {{1, 'A'}, {2, 'A'}, {3, 'B'}, {4, 'C'}}, 3, {3, 4}},
      {"A, A, B, B, C: a tie of the largest names nobody", {{1, 'A'}, {2, 'A'}, {3, 'B'}, {4, 'B'}, {5, 'C'}}, 3, {}},
      {"Z, Z, Z, A, A: zeros lose to the largest other group", {{1, '0'}, {2, '0'}, {3, '0'}, {4, 'A'}, {5, 'A'}}, 2,
       {1, 2, 3}},
      {"A, A, A, B, C: three of five", {{1, 'A'}, {2, 'A'}, {3, 'A'}, {4, 'B'}, {5, 'C'}}, 3, {4, 5}},
      {"zeros, zeros, B: the zero group cannot be good", {{1, '0'}, {2, '0'}, {3, 'B'}}, 2, {}},
      {"zeros, B, B: the B group wins", {{1, '0'}, {2, 'B'}, {3, 'B'}}, 2, {1}},
      {"zeros, zeros, B, B: zeros do not count for a tie", {{1, '0'}, {2, '0'}, {3, 'B'}, {4, 'B'}}, 2, {1, 2}},
      {"an answer repeated only renews its tick", {{1, 'A'}, {1, 'A'}, {2, 'B'}}, 2, {}},
      {"other blocks do not join the test", {{1, 'A'}, {2, 'B', 13}, {3, 'B', 13}}, 1, {}},
      {"a peer that answered twice differently is named by its odd answer", {{1, 'A'}, {2, 'A'}, {2, 'B'}}, 2, {2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bad_data_detector d;
    std::vector<uint64_t> bad;
    uint32_t now = 50000;
    for (const Answer& a : c.answers) {
      bad.clear();
      d.add_answer(a.block, a.peer, block_of(a.kind).data(), now += 10, bad);
    }
    EXPECT_EQ(d.block_under_test(), 12u);
    EXPECT_EQ(d.groups().size(), c.groups);
    EXPECT_EQ(bad, c.bad);
  }
}

TEST(BadDataDetector, VerdictText) {
  bad_data_detector d;
  std::vector<uint64_t> bad;
  d.add_answer(5, 11, block_of('A').data(), 1000, bad);
  d.add_answer(5, 12, block_of('A').data(), 1001, bad);
  d.add_answer(5, 0x100000013ull, block_of('B').data(), 1002, bad);
  ASSERT_EQ(bad, (std::vector<uint64_t>{0x100000013ull}));
  char prefix_a[16], prefix_b[16];
  const std::vector<uint8_t> a = block_of('A'), b = block_of('B');
  snprintf(prefix_a, sizeof prefix_a, "%X", unsigned(a[0] | a[1] << 8 | a[2] << 16 | unsigned(a[3]) << 24));
  snprintf(prefix_b, sizeof prefix_b, "%X", unsigned(b[0] | b[1] << 8 | b[2] << 16 | unsigned(b[3]) << 24));
  // User ids are written "%u ": the low 32 bits.
  EXPECT_EQ(d.verdict_text(), std::string("shit : answer groups:2 block_id:5\r\n") +
                                  "[00] good, peers: 2, buf_prefix :" + prefix_a +
                                  "\r\n[01] shit, peers: 1, buf_prefix :" + prefix_b + ", peers_id: 19 \r\n");
}

TEST(BadDataDetector, TestLifetimeAndAskingAgain) {
  struct Step {
    const char* what;
    uint32_t at;
    uint64_t peer;      // answer from this peer for `block` (0: no answer, only ask)
    uint32_t block;
    uint64_t ask;       // then ask for this peer
    uint32_t expect;    // block_for_peer
  };
  const uint32_t T = 10000000;
  const uint32_t none = bad_data_detector::kNoBlock;
  const std::vector<Step> steps = {
      {"no test yet", T, 0, 0, 1, none},
      {"the first full answer starts the test", T, 1, 40, 2, 40},
      {"the peer that answered is not asked again", T + 1, 0, 0, 1, none},
      {"30 s later still not", T + 30000, 0, 0, 1, none},
      {"59,999 ms later still not", T + 59999, 0, 0, 1, none},
      {"60 s later it is", T + 60000, 0, 0, 1, 40},
      {"peer 2 answers the test block", T + 60000, 2, 40, 2, none},
      {"an answer for another block within 360 s keeps the test", T + 359999, 3, 41, 3, 40},
      {"360 s after the start a new test begins", T + 360000, 3, 41, 3, none},
      {"and others are asked for its block", T + 360000, 0, 0, 1, 41},
  };
  bad_data_detector d;
  std::vector<uint64_t> bad;
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.peer) d.add_answer(s.block, s.peer, block_of('A').data(), s.at, bad);
    EXPECT_EQ(d.block_for_peer(s.ask, s.at), s.expect);
  }
  EXPECT_TRUE(bad.empty());
  // No data is no answer.
  bad_data_detector empty;
  EXPECT_FALSE(empty.add_answer(3, 1, nullptr, T, bad));
  EXPECT_EQ(empty.block_for_peer(2, T), none);
}
