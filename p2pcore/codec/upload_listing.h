// Which upload users the peer list shows. Platform-free.
#pragma once
#include <cstdint>

namespace p2p {

// Listed: (a first transfer happened, or created at most 15 s ago) and the
// last transfer at most 60 s ago. Times in seconds since 1970; a time in the
// future counts as now.
inline bool upload_user_listed(uint32_t now, uint32_t created, uint32_t first_transfer, uint32_t last_transfer) {
  auto age = [now](uint32_t t) { return t >= now ? 0u : now - t; };
  return (first_transfer != 0 || age(created) <= 15) && age(last_transfer) <= 60;
}

}  // namespace p2p
