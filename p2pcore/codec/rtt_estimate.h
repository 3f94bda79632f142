// Round-trip estimate of a peer link: a smoothed average taken at most once
// a second, clamped, and the retry time-out at twice it. Platform-free.
#pragma once
#include <cstdint>

namespace p2p {

struct rtt_estimator {
  uint32_t average_ms = 0;
  uint32_t retry_timeout_ms = 0;
  uint32_t last_tick = 0;
  bool started = false;
};

void rtt_estimate(rtt_estimator& e, uint32_t sample_ms, uint32_t now_ms);

}  // namespace p2p
