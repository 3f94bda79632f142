// The one-second byte budget of the download side (one per download handle
// and one for the process): bytes charged in the current second against a
// limit per second, on an injected millisecond tick. Platform-free; the owner
// holds its lock.
#pragma once
#include <cstdint>

namespace p2p {

class byte_budget {
 public:
  // What remains when there is no limit.
  static constexpr uint32_t kUnlimited = 0x70FFFFFF;

  void set_limit(uint32_t bytes_per_second) { limit_ = bytes_per_second; }
  uint32_t limit() const { return limit_; }
  // Charges n bytes to the current second (a new second starts 1000 ms or
  // more after the last one began); the count saturates.
  void add(uint32_t n, uint32_t now_ms);
  // The limit less what is reserved and what was used this second, never below 0.
  uint32_t remaining(uint32_t reserved, uint32_t now_ms);
  // Bytes of the second before the current one, and of the current one.
  uint32_t previous() const { return previous_; }
  uint32_t used() const { return used_; }

 private:
  void roll(uint32_t now_ms);

  bool started_ = false;
  uint32_t second_start_ = 0;
  uint32_t limit_ = 0;  // 0: none
  uint32_t previous_ = 0;
  uint32_t used_ = 0;
};

}  // namespace p2p
