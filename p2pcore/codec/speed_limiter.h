// Upload speed limiter: no 1000-ms window carries more granted bytes than the
// limit, kept with two arrays of per-millisecond running totals. The clock is
// passed in by the caller (milliseconds), so the rule is testable.
// Platform-free; no lock.
#pragma once
#include <cstdint>

namespace p2p {

class speed_limiter {
 public:
  static constexpr uint64_t kDefaultLimit = 0x40000000;  // 1 GiB per second

  explicit speed_limiter(uint64_t now_ms);
  speed_limiter(const speed_limiter&) = delete;
  speed_limiter& operator=(const speed_limiter&) = delete;

  void set_limit(uint64_t bytes_per_second) { limit_ = bytes_per_second; }
  uint64_t limit() const { return limit_; }

  // n when the n bytes may go now, else 0; never a part of n. Refused bytes
  // count nothing.
  uint64_t allow(uint64_t n, uint64_t now_ms);

  // What the last decision saw, for the trace line (not touched when the limit is 0).
  struct trace {
    uint64_t last_tick, now_tick, total, current_slot, previous_slot, granted;
  };
  const trace& last_trace() const { return trace_; }

 private:
  uint64_t limit_ = kDefaultLimit;
  uint64_t a_[1000] = {};
  uint64_t b_[1000] = {};
  uint64_t* current_ = a_;
  uint64_t* previous_ = b_;
  uint64_t total_ = 0;
  uint64_t last_tick_;
  trace trace_ = {};
};

}  // namespace p2p
