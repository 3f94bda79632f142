// The speed limiter's 1000-ms window and the per-share rate meter, on an injected clock.
#include <gtest/gtest.h>

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
  const Case cases[] = {
      {"limit 0 grants everything", T, 0, {{T, 1ull << 40, 1ull << 40}, {T, 5, 5}}},
      {"same millisecond: two of three", T, 100000, {{T, 40000, 40000}, {T, 40000, 40000}, {T, 40000, 0}}},
      {"same period, later slot", T, 100000, {{T, 60000, 60000}, {T + 100, 50000, 0}, {T + 200, 40000, 40000}}},
      {"window slides into the next period", T, 100000,
       {{T, 100000, 100000}, {T + 500, 1, 0}, {T + 999, 1, 0}, {T + 1001, 1, 1}}},
      {"larger than the limit is refused and fills the window after a pause", T, 100000,
       {{T + 5000, 150000, 0}, {T + 5500, 10, 0}, {T + 6001, 10, 10}}},
      {"larger than the limit at a new period fills the window", T, 100000,
       {{T + 10, 10, 10}, {T + 900, 150000, 0}, {T + 1500, 10, 0}}},
      {"a pause of 5 s grants up to the limit", T, 100000, {{T, 100000, 100000}, {T + 5000, 100000, 100000}}},
      {"exactly 1000 ms later takes the pause rule", T, 100000, {{T, 100000, 100000}, {T + 1000, 100000, 100000}}},
      {"tick going backwards does not underflow", T, 100000, {{T, 50000, 50000}, {T - 300, 40000, 40000},
                                                              {T - 200, 20000, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    run(c.start, c.limit, c.calls);
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
