// The one-second byte budget.
#include "p2pcore/codec/byte_budget.h"

namespace p2p {

void byte_budget::roll(uint32_t now_ms) {
  // A tick that went back gives a huge difference and starts a new second too.
  if (started_ && now_ms - second_start_ < 1000) return;
  previous_ = started_ ? used_ : 0;
  used_ = 0;
  second_start_ = now_ms;
  started_ = true;
}

void byte_budget::add(uint32_t n, uint32_t now_ms) {
  roll(now_ms);
  used_ = n > UINT32_MAX - used_ ? UINT32_MAX : used_ + n;
}

uint32_t byte_budget::remaining(uint32_t reserved, uint32_t now_ms) {
  roll(now_ms);
  if (limit_ == 0) return kUnlimited;
  const uint64_t spent = uint64_t(used_) + reserved;
  return spent >= limit_ ? 0 : uint32_t(limit_ - spent);
}

}  // namespace p2p
