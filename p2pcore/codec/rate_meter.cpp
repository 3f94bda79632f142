// Rate meter: slot i holds the running total at the end of the last second
// whose number is congruent to i modulo the slot count.
#include "p2pcore/codec/rate_meter.h"

namespace p2p {

void rate_meter::add(uint32_t bytes, uint32_t now_ms) {
  const uint32_t count = uint32_t(slots_.size());
  const uint32_t seconds = (now_ms - last_) / 1000;
  const uint32_t current = (now_ms / 1000) % count;
  const uint32_t previous = (last_ / 1000) % count;
  if (seconds > count) {
    for (uint64_t& s : slots_) s = total_;
  } else if (seconds >= 1 && current != previous) {
    for (uint32_t k = previous; k != current; k = (k + 1) % count) slots_[k] = total_;
  }
  total_ += bytes;
  last_ = now_ms;
  slots_[current] = total_;
}

uint32_t rate_meter::rate(uint32_t now_ms) const {
  const uint32_t count = uint32_t(slots_.size());
  if (now_ms - last_ > uint64_t(count) * 1000) return 0;
  if (count < 2) return uint32_t(total_ - slots_[0]);
  uint32_t i = (now_ms / 1000) % count + 1;
  if (i == count) i = 0;
  return uint32_t((total_ - slots_[i]) / (count - 1));
}

}  // namespace p2p
