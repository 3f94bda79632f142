// The period check of the library's retry timers (timerretry): due once
// `period + extra` ms have passed since the last firing, on an injected
// millisecond tick. Platform-free; the caller writes the log lines.
#pragma once
#include <cstdint>

namespace p2p {

enum class timer_check {
  kNotDue,
  kDue,        // fired: the period starts again now
  kWentBack,   // the tick is below the last firing (wrapped or set back): restarted, not fired
};

struct retry_timer {
  uint32_t last = 0;
  uint32_t period = 0;
  uint32_t extra = 0;

  void restart(uint32_t now_ms) { last = now_ms; }
  timer_check need(uint32_t now_ms);
};

}  // namespace p2p
