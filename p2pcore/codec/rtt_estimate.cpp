// Round-trip estimate.
#include "p2pcore/codec/rtt_estimate.h"

namespace p2p {

void rtt_estimate(rtt_estimator& e, uint32_t sample_ms, uint32_t now_ms) {
  if (e.started && now_ms - e.last_tick < 1000) return;
  if (!e.started) {
    e.average_ms = sample_ms;
  } else {
    const uint64_t sum = uint64_t(sample_ms) + 15ull * e.average_ms;
    if (sum < 800) e.average_ms = 50;
    else if (sum > 96015) e.average_ms = 6000;
    else e.average_ms = uint32_t(sum / 16);
  }
  e.retry_timeout_ms = 2 * e.average_ms;
  e.last_tick = now_ms;
  e.started = true;
}

}  // namespace p2p
