// The upload speed limiter on the system's millisecond clock, with its trace line.
#pragma once
#include <cstdint>

#include "p2pcore/codec/speed_limiter.h"

namespace p2p {

class clocked_speed_limiter {
 public:
  clocked_speed_limiter();
  void set_limit(uint64_t bytes_per_second) { limiter_.set_limit(bytes_per_second); }
  uint64_t limit() const { return limiter_.limit(); }
  uint64_t allow(uint64_t n);

 private:
  speed_limiter limiter_;
};

}  // namespace p2p
