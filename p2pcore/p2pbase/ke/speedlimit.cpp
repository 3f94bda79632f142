// The upload speed limiter on the system's millisecond clock.
#include "p2pcore/p2pbase/ke/speedlimit.h"

#include <winsock2.h>
#include <windows.h>

#include "p2pcore/p2pbase/inc/p2plog.h"

namespace p2p {

// GetTickCount64: the 32-bit tick wraps after 49.7 days, and a clock that
// jumps back would freeze the window.
clocked_speed_limiter::clocked_speed_limiter() : limiter_(GetTickCount64()) {}

uint64_t clocked_speed_limiter::allow(uint64_t n) {
  if (limiter_.limit() == 0) return n;
  const uint64_t granted = limiter_.allow(n, GetTickCount64());
  const auto& t = limiter_.last_trace();
  P2P_LOG(1, "lasttick=[%lld],nowtick=[%lld],m_total=[%lld],m_first[tick]=[%lld],m_second[tick]=[%lld],ret=[%d]",
          (long long)t.last_tick, (long long)t.now_tick, (long long)t.total, (long long)t.current_slot,
          (long long)t.previous_slot, int(granted != 0 ? granted : 0));
  return granted;
}

}  // namespace p2p
