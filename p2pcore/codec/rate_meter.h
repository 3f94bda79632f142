// Per-share upload rate meter: ten one-second slots of running totals; the
// rate is the average over the last nine whole seconds. Ticks in ms are
// passed in (32-bit, wrapping like GetTickCount). Platform-free.
#pragma once
#include <cstdint>
#include <vector>

namespace p2p {

class rate_meter {
 public:
  explicit rate_meter(uint32_t slots = 10) : slots_(slots ? slots : 1, 0) {}
  void add(uint32_t bytes, uint32_t now_ms);
  uint32_t rate(uint32_t now_ms) const;

 private:
  std::vector<uint64_t> slots_;
  uint32_t last_ = 0;
  uint64_t total_ = 0;
};

}  // namespace p2p
