// The speed limiter's window: slot i of the current array holds the running
// total as it stood at the end of millisecond i of this period, the previous
// array the same for the period before, so total - previous[i] is what went
// out in the last 1000 ms. Slots between two calls hold the total before the
// later call: giving them the new total would hide that call's bytes from
// the window one period on.
#include "p2pcore/codec/speed_limiter.h"

#include <utility>

namespace p2p {

speed_limiter::speed_limiter(uint64_t now_ms) : last_tick_(now_ms) {}

uint64_t speed_limiter::allow(uint64_t n, uint64_t now_ms) {
  if (limit_ == 0) return n;
  // A clock that went backwards is taken as the last call's millisecond, so
  // the window never loses what it holds.
  if (now_ms < last_tick_) now_ms = last_tick_;
  const uint64_t d = now_ms - last_tick_;
  const uint64_t i = now_ms % 1000;
  auto fits = [&](uint64_t since) { return total_ - since + n <= limit_ ? n : 0; };
  uint64_t granted;
  if (d == 0) {
    granted = fits(previous_[i]);
    total_ += granted;
    current_[i] = total_;
  } else if (d < 1000) {
    const uint64_t j = last_tick_ % 1000;
    if (i > j) {
      granted = fits(previous_[i]);
      for (uint64_t k = j + 1; k < i; ++k) current_[k] = total_;
      total_ += granted;
      current_[i] = total_;
    } else {
      std::swap(current_, previous_);
      granted = fits(previous_[i]);
      for (uint64_t k = j + 1; k < 1000; ++k) previous_[k] = total_;
      for (uint64_t k = 0; k < i; ++k) current_[k] = total_;
      total_ += granted;
      current_[i] = total_;
      for (uint64_t k = i + 1; k < 1000; ++k) current_[k] = 0;
    }
  } else {
    for (uint64_t k = 0; k < 1000; ++k) previous_[k] = total_;
    for (uint64_t k = 0; k < i; ++k) current_[k] = total_;
    granted = n <= limit_ ? n : 0;
    total_ += granted;
    current_[i] = total_;
  }
  trace_ = {last_tick_, now_ms, total_, current_[i], previous_[i], granted};
  last_tick_ = now_ms;
  return granted;
}

}  // namespace p2p
