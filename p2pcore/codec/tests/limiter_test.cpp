// The speed limiter's 1000-ms window and the per-share rate meter, on an injected clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "p2pcore/codec/rate_meter.h"
#include "p2pcore/codec/rtt_estimate.h"
#include "p2pcore/codec/speed_limiter.h"

namespace {

struct Call { uint64_t at_ms; uint64_t bytes; uint64_t granted; };

void run(uint64_t start, uint64_t limit, const std::vector<Call>& calls) {
  p2p::speed_limiter l(start);
  l.set_limit(limit);
  for (size_t k = 0; k < calls.size(); ++k) {
    SCOPED_TRACE("call " + std::to_string(k) + " at " + std::to_string(calls[k].at_ms));
    EXPECT_EQ(l.allow(calls[k].bytes, calls[k].at_ms), calls[k].granted);
  }
}

TEST(SpeedLimiter, Windows) {
  struct Case { const char* name; uint64_t start; uint64_t limit; std::vector<Call> calls; };
  const uint64_t T = 5000123;  // a tick in the middle of a period
  const uint64_t B = 7000000;  // the start of a period
  const Case cases[] = {
      {"limit 0 grants everything", T, 0, {{T, 1ull << 40, 1ull << 40}, {T, 5, 5}}},
      {"same millisecond: two of three", T, 100000, {{T, 40000, 40000}, {T, 40000, 40000}, {T, 40000, 0}}},
      {"same period, later slot", T, 100000, {{T, 60000, 60000}, {T + 100, 50000, 0}, {T + 200, 40000, 40000}}},
      {"window slides into the next period", T, 100000,
       {{T, 100000, 100000}, {T + 500, 1, 0}, {T + 999, 1, 0}, {T + 1001, 1, 1}}},
      {"larger than the limit after a pause: refused, and it counts nothing", T, 100000,
       {{T + 5000, 150000, 0}, {T + 5500, 100000, 100000}, {T + 6001, 10, 0}}},
      {"larger than the limit at a new period: refused, and it counts nothing", T, 100000,
       {{T + 10, 10, 10}, {T + 900, 262144, 0}, {T + 1500, 100000, 100000}}},
      {"a refused request in the same period counts nothing", T, 100000,
       {{T, 60000, 60000}, {T + 100, 50000, 0}, {T + 200, 40000, 40000}, {T + 300, 1, 0}}},
      {"a pause of 5 s grants up to the limit", T, 100000, {{T, 100000, 100000}, {T + 5000, 100000, 100000}}},
      {"exactly 1000 ms later takes the pause rule", T, 100000, {{T, 100000, 100000}, {T + 1000, 100000, 100000}}},
      {"tick going backwards does not underflow", T, 100000, {{T, 50000, 50000}, {T - 300, 40000, 40000},
                                                              {T - 200, 20000, 0}}},
      // 1 byte, then 102,399 at 500 ms: the 102,400 at 1100 ms would make
      // 204,799 bytes within 600 ms.
      {"bytes of the last period stay in the window at a new period", B, 102400,
       {{B, 1, 1}, {B + 500, 102399, 102399}, {B + 1100, 102400, 0}, {B + 2200, 102400, 102400}}},
      {"slots between two calls keep the earlier total", B + 100, 1000,
       {{B + 100, 400, 400}, {B + 700, 600, 600}, {B + 1150, 401, 0}, {B + 1701, 599, 599}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    run(c.start, c.limit, c.calls);
  }
}

// The limiter's purpose over random traffic on an injected clock: whatever
// the gaps and sizes, no window of 1000 ms carries more granted bytes than
// the limit, and a request is granted whole or not at all.
TEST(SpeedLimiter, NoOneSecondWindowCarriesMoreThanTheLimit) {
  struct Traffic { const char* name; uint64_t limit; uint32_t max_gap_ms; uint64_t max_bytes; };
  const Traffic kinds[] = {
      {"dense small requests", 102400, 20, 4096},
      {"mixed gaps and sizes", 102400, 1500, 80000},
      {"requests near and above the limit", 102400, 700, 150000},
      {"small limit", 1000, 300, 700},
  };
  for (const Traffic& k : kinds) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
      SCOPED_TRACE(std::string(k.name) + ", seed " + std::to_string(seed));
      std::mt19937_64 rng(seed);
      uint64_t now = 9000000 + rng() % 1000;
      p2p::speed_limiter l(now);
      l.set_limit(k.limit);
      std::vector<std::pair<uint64_t, uint64_t>> granted;  // (ms, bytes)
      for (int call = 0; call < 20000; ++call) {
        // Mostly short gaps, now and then one of a period or more.
        now += rng() % 8 == 0 ? rng() % (k.max_gap_ms + 1) : rng() % 6;
        const uint64_t n = 1 + rng() % k.max_bytes;
        const uint64_t g = l.allow(n, now);
        ASSERT_TRUE(g == 0 || g == n) << "granted " << g << " of " << n;
        if (g) granted.push_back({now, g});
      }
      ASSERT_FALSE(granted.empty());
      // Sliding window (t - 1000, t] ending at every grant.
      uint64_t in_window = 0, worst = 0;
      size_t first = 0;
      for (size_t i = 0; i < granted.size(); ++i) {
        in_window += granted[i].second;
        while (granted[first].first + 1000 <= granted[i].first) in_window -= granted[first++].second;
        worst = std::max(worst, in_window);
      }
      EXPECT_LE(worst, k.limit);
    }
  }
}

TEST(RateMeter, AverageOverNineSeconds) {
  struct Case { const char* name; std::vector<std::pair<uint32_t, uint32_t>> adds; uint32_t at; uint32_t rate; };
  std::vector<std::pair<uint32_t, uint32_t>> steady;
  for (uint32_t s = 0; s < 10; ++s) steady.push_back({100500 + s * 1000, 900});
  const Case cases[] = {
      {"no traffic", {}, 5000, 0},
      {"same bytes each of the last 10 seconds", steady, 109600, 900},
      {"silent for 11 seconds", steady, 109500 + 11000, 0},
      {"one burst", {{100500, 9000}}, 101200, 1000},
      {"gap fills the skipped slots", {{100500, 900}, {105500, 900}}, 105600, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    p2p::rate_meter m;
    for (auto [at, n] : c.adds) m.add(n, at);
    EXPECT_EQ(m.rate(c.at), c.rate);
  }
}

}  // namespace

namespace {

TEST(RttEstimate, SmoothedClampedOncePerSecond) {
  struct Step { uint32_t sample, at; uint32_t average, timeout; };
  struct Case { const char* name; std::vector<Step> steps; };
  const Case cases[] = {
      {"first sample taken as it is", {{300, 1000, 300, 600}}},
      {"smoothing", {{320, 1000, 320, 640}, {480, 2000, 330, 660}}},
      {"within a second: ignored", {{320, 1000, 320, 640}, {9999, 1999, 320, 640}}},
      {"small sums give 50", {{40, 1000, 40, 80}, {40, 2000, 50, 100}}},
      {"large sums give 6000", {{6500, 1000, 6500, 13000}, {6500, 2000, 6000, 12000}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    p2p::rtt_estimator e;
    for (const Step& s : c.steps) {
      p2p::rtt_estimate(e, s.sample, s.at);
      EXPECT_EQ(e.average_ms, s.average);
      EXPECT_EQ(e.retry_timeout_ms, s.timeout);
    }
  }
}

}  // namespace
