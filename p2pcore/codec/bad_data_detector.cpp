// Grouping of test-block answers and the majority verdict.
#include "p2pcore/codec/bad_data_detector.h"

#include <cstdio>
#include <cstring>

namespace p2p {

uint32_t bad_data_detector::group::prefix() const {
  return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 | uint32_t(bytes[3]) << 24;
}

int bad_data_detector::good_group() const {
  if (groups_.size() < 2) return -1;
  // An answer of zeros is what a peer without the data sends: it can lose a
  // vote but never win one. Of the others the group with the most peers
  // wins; a tie names nobody, since half of the peers would be named bad on
  // no evidence.
  int best = -1;
  bool tie = false;
  for (size_t i = 0; i < groups_.size(); ++i) {
    const group& g = groups_[i];
    if (g.prefix() == 0) continue;
    if (best < 0 || g.peers.size() > groups_[size_t(best)].peers.size()) {
      best = int(i);
      tie = false;
    } else if (g.peers.size() == groups_[size_t(best)].peers.size()) {
      tie = true;
    }
  }
  if (best < 0 || tie || groups_[size_t(best)].peers.size() < 2) return -1;
  return best;
}

bool bad_data_detector::add_answer(uint32_t block, uint64_t peer, const uint8_t* data, uint32_t now_ms,
                                   std::vector<uint64_t>& bad) {
  if (!data) return false;
  if (!testing_ || now_ms - start_ >= kTestLifetimeMs) {
    testing_ = true;
    start_ = now_ms;
    block_ = block;
    groups_.clear();
  }
  if (block != block_) return false;
  bool placed = false;
  for (group& g : groups_) {
    if (std::memcmp(g.bytes.data(), data, kBlockBytes) == 0) {
      g.peers[peer] = now_ms;
      placed = true;
      break;
    }
  }
  if (!placed) {
    groups_.emplace_back();
    std::memcpy(groups_.back().bytes.data(), data, kBlockBytes);
    groups_.back().peers[peer] = now_ms;
  }
  const int good = good_group();
  if (good < 0) return false;
  for (size_t i = 0; i < groups_.size(); ++i)
    if (int(i) != good)
      for (const auto& p : groups_[i].peers) bad.push_back(p.first);
  return true;
}

uint32_t bad_data_detector::block_for_peer(uint64_t peer, uint32_t now_ms) const {
  if (!testing_) return kNoBlock;
  for (const group& g : groups_) {
    auto it = g.peers.find(peer);
    if (it != g.peers.end() && now_ms - it->second < kAskAgainMs) return kNoBlock;
  }
  return block_;
}

std::string bad_data_detector::verdict_text() const {
  const int good = good_group();
  char line[160];
  std::snprintf(line, sizeof line, "shit : answer groups:%d block_id:%d\r\n", int(groups_.size()), int(block_));
  std::string text = line;
  for (size_t i = 0; i < groups_.size(); ++i) {
    const group& g = groups_[i];
    if (int(i) == good) {
      std::snprintf(line, sizeof line, "[%02d] good, peers: %d, buf_prefix :%X\r\n", int(i), int(g.peers.size()),
                    unsigned(g.prefix()));
      text += line;
      continue;
    }
    std::string ids;
    for (const auto& p : g.peers) {
      std::snprintf(line, sizeof line, "%u ", unsigned(p.first));
      ids += line;
    }
    std::snprintf(line, sizeof line, "[%02d] shit, peers: %d, buf_prefix :%X, peers_id: ", int(i),
                  int(g.peers.size()), unsigned(g.prefix()));
    text += line + ids + "\r\n";
  }
  return text;
}

}  // namespace p2p
