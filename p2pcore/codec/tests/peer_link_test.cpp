// A peer link's small parts on an injected clock: NAT names and the peer
// line, the one-second byte budget, the retry timer, and the request list's
// window, list limit and retransmission.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "p2pcore/codec/byte_budget.h"
#include "p2pcore/codec/nat_names.h"
#include "p2pcore/codec/peer_requests.h"
#include "p2pcore/codec/retry_timer.h"

using namespace p2p;

TEST(NatNames, EveryKindAndClass) {
  struct Row { uint8_t nat; const char* name; };
  const Row rows[] = {
      {0x11, "Public(FullCone)"},   {0x12, "Public(Restricted)"}, {0x13, "Public(PortRestricted)"},
      {0x14, "Public(Symmetric)"},  {0x15, "Public(Unknown)"},    {0x10, "Public(Unknown)"},
      {0x1F, "Public(Unknown)"},    {0x01, "Inner(FullCone)"},    {0x02, "Inner(Restricted)"},
      {0x03, "Inner(PortRestricted)"}, {0x23, "Inner(PortRestricted)"}, {0x04, "Inner(Symmetric)"},
      {0x00, "Inner(Unknown)"},     {0x20, "Inner(Unknown)"},     {0x21, "Inner(FullCone)"},
      {0xFF, "Inner(Unknown)"},     {0x0F, "Inner(Unknown)"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(int(r.nat));
    EXPECT_STREQ(nat_type_name(r.nat), r.name);
    EXPECT_LE(std::string(r.name).size(), 31u);  // copied into 32 characters
  }
  EXPECT_EQ(describe_peer(123456789012ull, 0x13, 0x0100007F, 4000),
            "[peer: 123456789012, Public(PortRestricted), ip: 127.0.0.1      : 4000]");
}

TEST(ByteBudget, RollOverAndRemaining) {
  struct Step {
    const char* what;
    uint32_t at;
    uint32_t add;            // bytes charged first (0: none)
    uint32_t reserved;
    uint32_t remaining;      // then read
    uint32_t previous;
  };
  struct Case { const char* name; uint32_t limit; uint32_t start; std::vector<Step> steps; };
  const uint32_t T = 5000000;
  const uint32_t W = 0xFFFFFE00u;  // a tick just before the counter wraps
  const Case cases[] = {
      {"no limit", 0, T, {{"any use", T, 900000, 0, byte_budget::kUnlimited, 0}}},
      {"within one second", 10000, T,
       {{"first bytes", T, 3000, 0, 7000, 0},
        {"more in the same second", T + 999, 3000, 0, 4000, 0},
        {"reserved counts too", T + 999, 0, 2500, 1500, 0}}},
      {"1000 ms after the start a new second begins", 10000, T,
       {{"fill", T, 6000, 0, 4000, 0}, {"roll on read", T + 1000, 0, 0, 10000, 6000},
        {"the new second counts from its own start", T + 1999, 500, 0, 9500, 6000},
        {"and rolls again", T + 2000, 0, 0, 10000, 500}}},
      {"spent beyond the limit saturates at 0", 10000, T,
       {{"over", T, 12000, 0, 0, 0}, {"reserved beyond", T + 10, 0, 0xFFFFFFFFu, 0, 0}}},
      {"reserved alone beyond the limit", 8192, T, {{"reserve", T, 0, 9000, 0, 0}}},
      {"the count saturates instead of wrapping", 0xFFFFFFF0u, T,
       {{"huge", T, 0xFFFFFFF0u, 0, 0, 0}, {"more", T + 1, 0x100, 0, 0, 0}}},
      {"a tick that goes back starts a new second", 10000, T,
       {{"fill", T, 9000, 0, 1000, 0}, {"back", T - 50, 0, 0, 10000, 9000}}},
      {"the tick wraps", 10000, W,
       {{"fill", W, 9000, 0, 1000, 0}, {"across the wrap, 700 ms", W + 700, 0, 0, 1000, 0},
        {"across the wrap, 1000 ms", W + 1000, 0, 0, 10000, 9000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    byte_budget b;
    b.set_limit(c.limit);
    for (const Step& s : c.steps) {
      SCOPED_TRACE(s.what);
      if (s.add) b.add(s.add, s.at);
      EXPECT_EQ(b.remaining(s.reserved, s.at), s.remaining);
      EXPECT_EQ(b.previous(), s.previous);
    }
  }
}

TEST(RetryTimer, PeriodExtraAndTicksGoingBack) {
  struct Step { uint32_t at; timer_check expect; uint32_t last_after; };
  struct Case { const char* name; uint32_t last, period, extra; std::vector<Step> steps; };
  const Case cases[] = {
      {"due at last + period + extra, then restarted", 1000, 30000, 1234,
       {{32233, timer_check::kNotDue, 1000}, {32234, timer_check::kDue, 32234}, {32235, timer_check::kNotDue, 32234},
        {63468, timer_check::kDue, 63468}}},
      {"a tick below the last restarts and does not fire", 50000, 100, 0,
       {{49999, timer_check::kWentBack, 49999}, {50098, timer_check::kNotDue, 49999},
        {50099, timer_check::kDue, 50099}}},
      {"near the top of the counter", 0xFFFFFF00u, 100, 50,
       {{0xFFFFFF95u, timer_check::kNotDue, 0xFFFFFF00u}, {0xFFFFFF96u, timer_check::kDue, 0xFFFFFF96u},
        {5, timer_check::kWentBack, 5}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    retry_timer t{c.last, c.period, c.extra};
    for (const Step& s : c.steps) {
      SCOPED_TRACE("at " + std::to_string(s.at));
      EXPECT_EQ(t.need(s.at), s.expect);
      EXPECT_EQ(t.last, s.last_after);
    }
  }
}

TEST(PeerRequests, WindowAndListLimitByRate) {
  struct Row { const char* name; bool lan; uint32_t link_kib; uint32_t handle_kib; uint32_t window; uint32_t limit; };
  const Row rows[] = {
      {"new link", false, 0, 0, 4, 16},
      {"10 KiB/s", false, 10, 10, 4, 16},
      {"just above 10 KiB/s", false, 11, 11, 8, 32},
      {"32 KiB/s", false, 32, 32, 8, 32},
      {"50 KiB/s", false, 50, 50, 16, 64},
      {"64 KiB/s", false, 64, 64, 16, 64},
      {"65 KiB/s", false, 65, 65, 16, 96},
      {"128 KiB/s", false, 128, 128, 16, 96},
      {"150 KiB/s", false, 150, 150, 16, 128},
      {"handle above 200 KiB/s: one entry", false, 50, 201, 16, 1},
      {"handle at 200 KiB/s", false, 150, 200, 16, 128},
      {"LAN link", true, 500, 900, 16, 16},
      {"slow LAN link", true, 1, 1, 4, 16},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(request_window(r.link_kib * 1024), r.window);
    EXPECT_EQ(request_list_limit(r.lan, r.link_kib * 1024, r.handle_kib * 1024), r.limit);
  }
  EXPECT_EQ(request_window(10 * 1024 + 1), 8u);
}

TEST(PeerRequests, QueueKeepsOnlyBlocksOfTheFile) {
  peer_requests l;
  const uint32_t blocks[] = {0, 99, 100, 5, 0xFFFFFFFFu, 5};
  EXPECT_EQ(l.queue(blocks, 6, 100), 4u);
  EXPECT_EQ(l.blocks(), (std::vector<uint32_t>{0, 99, 5, 5}));
  EXPECT_EQ(l.queue(nullptr, 3, 100), 0u);
}

// A request sends queued blocks first, at most the window and 16 at once,
// resends a block after rto x (retries + 8) / 2 ms, and after eight resends
// only resets its count for one pass.
TEST(PeerRequests, WindowingAndRetransmission) {
  struct Pass {
    const char* what;
    uint32_t at;
    uint32_t rto;
    uint32_t window;
    int result;
    std::vector<uint32_t> sent;
    uint32_t resends;
  };
  struct Case { const char* name; std::vector<uint32_t> queued; std::vector<Pass> passes; };
  const uint32_t T = 100000;
  const Case cases[] = {
      {"empty list", {}, {{"nothing listed", T, 200, 4, -1, {}, 0}}},
      {"window 4 takes four a pass", {1, 2, 3, 4, 5, 6},
       {{"first four", T, 200, 4, 0, {1, 2, 3, 4}, 0},
        {"the rest", T + 30, 200, 4, 0, {5, 6}, 0},
        {"all sent, none due", T + 60, 200, 4, -2, {}, 0}}},
      {"at most 16 at once whatever the window", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17},
       {{"sixteen", T, 200, 64, 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}, 0},
        {"two left", T + 1, 200, 64, 0, {16, 17}, 0}}},
      {"RTO 200: resent after more than 800, 900, 1000 ms", {7},
       {{"sent", T, 200, 4, 0, {7}, 0},
        {"800 ms is not more than 800", T + 800, 200, 4, -2, {}, 0},
        {"801 ms", T + 801, 200, 4, 0, {7}, 1},
        {"900 ms after the resend", T + 1701, 200, 4, -2, {}, 0},
        {"901 ms after it", T + 1702, 200, 4, 0, {7}, 1},
        {"then 1000 ms", T + 2703, 200, 4, 0, {7}, 1}}},
      {"no RTO yet: due at the next pass", {3, 4},
       {{"sent", T, 0, 4, 0, {3, 4}, 0}, {"same tick", T, 0, 4, -2, {}, 0},
        {"one ms later", T + 1, 0, 4, 0, {3, 4}, 2}}},
      {"a resend also counts against the window", {1, 2, 3, 4, 5},
       {{"four", T, 100, 4, 0, {1, 2, 3, 4}, 0},
        {"four old ones due fill the window before the fifth", T + 401, 100, 4, 0, {1, 2, 3, 4}, 4},
        {"the fifth", T + 402, 100, 4, 0, {5}, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    peer_requests l;
    l.queue(c.queued.data(), c.queued.size(), 1000);
    for (const Pass& p : c.passes) {
      SCOPED_TRACE(p.what);
      request_batch b;
      EXPECT_EQ(l.collect(p.at, p.rto, p.window, b), p.result);
      EXPECT_EQ(std::vector<uint32_t>(b.blocks, b.blocks + b.count), p.sent);
      EXPECT_EQ(b.resends, p.resends);
    }
  }
}

TEST(PeerRequests, EighthResendThenRetriesStartOver) {
  peer_requests l;
  const uint32_t block = 9;
  l.queue(&block, 1, 10);
  request_batch b;
  uint32_t now = 1000;
  ASSERT_EQ(l.collect(now, 200, 4, b), 0);
  for (uint32_t retries = 0; retries < 8; ++retries) {
    SCOPED_TRACE("resend " + std::to_string(retries + 1));
    const uint32_t wait = 200 * (retries + 8) / 2;
    EXPECT_EQ(l.collect(now + wait, 200, 4, b), -2);
    now += wait + 1;
    ASSERT_EQ(l.collect(now, 200, 4, b), 0);
    EXPECT_EQ(b.resends, 1u);
    ASSERT_EQ(b.resent.size(), 1u);
    EXPECT_EQ(b.resent[0].retries, retries);
    EXPECT_EQ(b.resent[0].wait_ms, wait);
  }
  EXPECT_EQ(l.entries().front().retries, 8);
  // Long after: this pass only resets the count, the next one resends.
  EXPECT_EQ(l.collect(now + 100000, 200, 4, b), -2);
  EXPECT_EQ(l.entries().front().retries, 0);
  EXPECT_EQ(l.collect(now + 100001, 200, 4, b), 0);
  EXPECT_EQ(b.resends, 1u);
}

// An entry more than 256 sequence numbers behind the newest one has its
// retries reset, so its wait shrinks back to rto x 8 / 2.
TEST(PeerRequests, RetriesResetWhenFarBehindNewerRequests) {
  struct Row { const char* name; uint32_t newer; std::vector<uint32_t> sent; bool old_resent; };
  const Row rows[] = {
      {"256 newer requests: the old entry waits rto x 11 / 2", 256, {1000}, false},
      {"257 newer requests: its retries start over", 257, {7}, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    peer_requests l;
    const uint32_t old_block = 7;
    l.queue(&old_block, 1, 5000);
    request_batch b;
    uint32_t now = 0;
    ASSERT_EQ(l.collect(now, 100, 1, b), 0);
    for (int i = 0; i < 3; ++i) {  // three resends: retries 3
      now += 10000;
      ASSERT_EQ(l.collect(now, 100, 1, b), 0);
    }
    ASSERT_EQ(l.entries().front().retries, 3);
    for (uint32_t k = 0; k < r.newer; ++k) {
      const uint32_t blk = 1000 + k;
      l.queue(&blk, 1, 5000);
    }
    // Past rto x 8 / 2 = 400 ms, before rto x 11 / 2 = 550 ms; window 1.
    ASSERT_EQ(l.collect(now + 401, 100, 1, b), 0);
    EXPECT_EQ(std::vector<uint32_t>(b.blocks, b.blocks + b.count), r.sent);
    EXPECT_EQ(b.resends, r.old_resent ? 1u : 0u);
  }
}

TEST(PeerRequests, OnlySentEntriesTakeABlock) {
  peer_requests l;
  const uint32_t blocks[] = {4, 5, 4};
  l.queue(blocks, 3, 10);
  request_batch b;
  ASSERT_EQ(l.collect(1000, 100, 2, b), 0);  // 4 and 5 sent, the second 4 still queued
  struct Row { const char* what; uint32_t block; uint32_t at; bool requested; uint32_t rtt; size_t left; };
  const Row rows[] = {
      {"a block never asked for", 6, 1010, false, 0, 3},
      {"the sent 4", 4, 1040, true, 40, 2},
      {"4 again: only queued, not asked yet", 4, 1041, false, 0, 2},
      {"5 very late: the sample is capped at 1000", 5, 5000, true, 1000, 1},
      {"5 twice", 5, 5001, false, 0, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const peer_requests::arrival a = l.on_block(r.block, r.at);
    EXPECT_EQ(a.requested, r.requested);
    EXPECT_EQ(a.rtt_ms, r.rtt);
    EXPECT_EQ(l.size(), r.left);
  }
}
