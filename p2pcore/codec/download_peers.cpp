// Peer-list rules, failed peers and have-map coverage of the download side.
#include "p2pcore/codec/download_peers.h"

namespace p2p {

namespace {
bool same_octets(uint32_t a, uint32_t b, int octets) {
  const uint32_t mask = octets >= 4 ? 0xFFFFFFFFu : (1u << (8 * octets)) - 1;
  return (a & mask) == (b & mask);
}
}  // namespace

bool peer_on_lan(const peer_entry& e, const own_addresses& own) {
  const bool first = same_octets(e.ip, own.ip, 3) || e.ip == kLoopbackIp;
  return first && e.second_ip != 0 && same_octets(e.second_ip, own.second_ip, 2);
}

bool peer_reached_directly(const peer_entry& e, bool lan) { return lan || (e.nat_type & 0x0F) == 1; }

bool plan_step_usable(const peer_entry& e, const own_addresses& own, const peer_list_rules& rules) {
  if (rules.disable_lan && same_octets(e.ip, own.ip, 3) && same_octets(e.second_ip, own.second_ip, 2)) return false;
  if (e.user_id == 0 || e.port == 0 || e.ip == 0 || e.ip == 0xFFFFFFFFu) return false;
  return e.user_id != own.user_id;
}

bool failed_peers::recent(uint64_t user_id, uint32_t now_ms) {
  auto it = map_.find(user_id);
  if (it == map_.end()) return false;
  if (now_ms - it->second.tick < kForgetMs) return true;
  map_.erase(it);
  return false;
}

void failed_peers::expire(uint32_t now_ms) {
  for (auto it = map_.begin(); it != map_.end();)
    it = now_ms - it->second.tick >= kForgetMs ? map_.erase(it) : std::next(it);
}

uint32_t have_percent(uint64_t have_bytes, uint64_t file_size) {
  if (have_bytes >= file_size) return 100;
  const uint32_t p = uint32_t((unsigned __int128)have_bytes * 100 / file_size);
  return p > 99 ? 99 : p;
}

uint64_t file_block_count(uint64_t file_size) { return file_size / 1024 + (file_size % 1024 ? 1 : 0); }

uint32_t file_block_length(uint64_t file_size, uint64_t block) {
  if (block >= file_block_count(file_size)) return 0;
  const uint64_t at = block * 1024;
  return file_size - at >= 1024 ? 1024 : uint32_t(file_size - at);
}

}  // namespace p2p
