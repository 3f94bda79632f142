// Parts of limited uploads and the queue of requests waiting for the limiter.
#include "p2pcore/codec/upload_pacing.h"

#include <algorithm>

namespace p2p {

namespace {
constexpr uint64_t kBlock = 1024;
}

uint32_t upload_part_length(uint64_t limit, uint32_t length, uint32_t unit) {
  if (limit == 0) return length;
  const uint64_t part = std::min<uint64_t>(limit, std::max<uint64_t>(limit / kPartsPerWindow, kLimitedPartMin));
  if (length <= part) return length;
  const uint64_t step = unit && limit >= unit ? unit : kBlock;
  return uint32_t(part / step * step);
}

bool grant_queue::park(void* request, uint8_t kind, uint64_t peer, bool replaceable, void** pushed_out) {
  *pushed_out = nullptr;
  std::deque<waiter>& mine = by_peer_[peer];
  const size_t limit = replaceable ? kMaxReplaceablePerPeer : kMaxPerPeer;
  if (mine.size() >= limit && replaceable && !mine.empty()) {
    *pushed_out = mine.front().request;
    mine.pop_front();
    --size_;
  } else if (mine.size() >= limit || size_ >= kMaxWaiting) {
    if (mine.empty()) by_peer_.erase(peer);
    return false;
  }
  if (mine.empty() && !*pushed_out) turns_.push_back(peer);
  waiter w;
  w.request = request;
  w.kind = kind;
  w.peer = peer;
  mine.push_back(w);
  ++size_;
  return true;
}

bool grant_queue::take(waiter* out) {
  if (turns_.empty()) return false;
  const uint64_t peer = turns_.front();
  turns_.pop_front();
  auto it = by_peer_.find(peer);
  *out = it->second.front();
  it->second.pop_front();
  --size_;
  if (it->second.empty())
    by_peer_.erase(it);
  else
    turns_.push_back(peer);
  return true;
}

void grant_queue::put_back(const waiter& w) {
  std::deque<waiter>& mine = by_peer_[w.peer];
  if (!mine.empty()) {
    // Its peer went to the back when it was taken: its turn is next again.
    for (auto it = turns_.begin(); it != turns_.end(); ++it)
      if (*it == w.peer) {
        turns_.erase(it);
        break;
      }
  }
  turns_.push_front(w.peer);
  mine.push_front(w);
  ++size_;
}

size_t grant_queue::of_peer(uint64_t peer) const {
  auto it = by_peer_.find(peer);
  return it == by_peer_.end() ? 0 : it->second.size();
}

}  // namespace p2p
