// The retry timer's period check.
#include "p2pcore/codec/retry_timer.h"

namespace p2p {

timer_check retry_timer::need(uint32_t now_ms) {
  if (now_ms < last) {
    last = now_ms;
    return timer_check::kWentBack;
  }
  if (uint64_t(now_ms) < uint64_t(last) + period + extra) return timer_check::kNotDue;
  last = now_ms;
  return timer_check::kDue;
}

}  // namespace p2p
