// Share report bodies.
#include "p2pcore/codec/share_report.h"

#include <cstring>

namespace p2p {

static void put(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

static void put_items(std::vector<uint8_t>& out, const std::vector<const uint8_t*>& fids) {
  for (const uint8_t* fid : fids) {
    out.insert(out.end(), fid, fid + 16);
    out.push_back(kReportItemValue);
  }
}

std::vector<uint8_t> sp_share_batch(uint8_t node_type, uint64_t node_id, uint32_t serial,
                                    const std::vector<const uint8_t*>& fids) {
  std::vector<uint8_t> out;
  put(out, 28, 2);
  put(out, node_type, 1);
  put(out, node_id, 8);
  put(out, serial, 4);
  put(out, fids.size(), 2);
  put_items(out, fids);
  return out;
}

std::vector<uint8_t> up_share_batch(uint32_t type, const std::vector<const uint8_t*>& fids) {
  std::vector<uint8_t> out;
  put(out, 0, 1);
  put(out, type, 4);
  put(out, fids.size(), 4);
  put_items(out, fids);
  return out;
}

bool accept_serial(const uint8_t* body, size_t n, uint32_t* serial) {
  if (!body || n < 7) return false;
  *serial = uint32_t(body[3]) | uint32_t(body[4]) << 8 | uint32_t(body[5]) << 16 | uint32_t(body[6]) << 24;
  return true;
}

}  // namespace p2p
