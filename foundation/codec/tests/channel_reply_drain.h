// Takes a connection's reply out as a socket would, at most so many bytes a
// send: for the connection's tests and its fuzz target.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/codec/channel_connection.h"

// Every byte of the reply, in sends of at most `chunk` bytes each. Stops
// early (and the bytes fall short) if the connection offers nothing while
// it is still sending.
inline std::vector<uint8_t> DrainReply(ChannelConnection& c, uint32_t chunk, uint64_t nowMs) {
  std::vector<uint8_t> out;
  while (c.Sending()) {
    ChannelPiece pieces[2];
    const uint32_t count = c.NextPieces(pieces);
    uint32_t budget = chunk, taken = 0;
    for (uint32_t i = 0; i < count && budget > 0; ++i) {
      const uint32_t n = std::min(budget, pieces[i].length);
      out.insert(out.end(), pieces[i].data, pieces[i].data + n);
      budget -= n;
      taken += n;
      if (n < pieces[i].length) break;
    }
    if (taken == 0) break;
    c.Sent(taken, nowMs);
  }
  return out;
}
