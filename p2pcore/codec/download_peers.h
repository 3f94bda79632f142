// The rules a download handle applies to the peers the super node names:
// which entries of a peer list become links, which peers are on our LAN,
// which ones failed recently, and how much of the file a have-map covers.
// Clock injected. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace p2p {

// One peer of a peer list (32 carries 31-byte entries, without node type and
// percentage; 47 carries 33-byte ones). Addresses have their first octet in
// the lowest byte.
struct peer_entry {
  uint64_t user_id = 0;
  uint32_t ip = 0;  // the address a link talks to
  uint16_t port = 0;
  uint32_t second_ip = 0;
  uint16_t second_port = 0;
  uint32_t kept = 0;  // kept by the link
  uint8_t nat_type = 0;
  uint32_t call_ip = 0;  // passed on in call-me requests
  uint16_t call_port = 0;
  uint8_t node_type = 0;
  uint8_t percent = 0;  // 100: holds the whole file
};

// Our addresses as the LAN rules compare them: the first with the peer's
// first address, the second with the peer's second one.
struct own_addresses {
  uint64_t user_id = 0;
  uint32_t ip = 0;
  uint32_t second_ip = 0;
};

inline constexpr uint32_t kLoopbackIp = 0x0100007F;  // 127.0.0.1
// Links to a LAN peer talk to its second address.
bool peer_on_lan(const peer_entry& e, const own_addresses& own);
// Reached directly, without a call-me through the super node: on the LAN or full cone.
bool peer_reached_directly(const peer_entry& e, bool lan);

// Peers named bad or gone silent, kept away for 30 minutes.
class failed_peers {
 public:
  static constexpr uint32_t kForgetMs = 1800000;
  struct failure {
    uint32_t tick = 0;
    peer_entry peer;
  };
  void add(const peer_entry& peer, uint32_t now_ms) { map_[peer.user_id] = {now_ms, peer}; }
  // True while the failure is younger than 30 minutes; an older one is forgotten.
  bool recent(uint64_t user_id, uint32_t now_ms);
  // Drops the failures older than 30 minutes.
  void expire(uint32_t now_ms);
  size_t size() const { return map_.size(); }
  const std::map<uint64_t, failure>& all() const { return map_; }

 private:
  std::map<uint64_t, failure> map_;
};

// What becomes of each entry of a peer list.
enum class entry_outcome {
  kSkipped,     // no usable address or id, ourselves, or the LAN switched off
  kDuplicate,   // linked already, or failed within 30 minutes
  kPartialFull, // a partial source while 20 partial sources are linked: the walk ends
  kNewLink,
  kStopped,     // the handle has more than 64 links: the rest of the list is not walked
};

struct peer_list_rules {
  bool disable_sources = false;  // DebugDisableSource: no peer of a list is taken
  bool disable_lan = false;      // DebugDisableLan: peers on our LAN are skipped
};

struct link_counts {
  size_t links = 0;
  size_t partial_links = 0;  // links to peers below 100 percent
};

struct peer_list_plan {
  struct step {
    peer_entry entry;
    entry_outcome outcome = entry_outcome::kSkipped;
    bool lan = false;
  };
  std::vector<step> steps;
  size_t duplicates = 0;
  size_t new_links = 0;
  // The walk ended at a partial source it could not link: the handle makes
  // the links before it and nothing else of the list.
  bool partial_limit_reached = false;
  // Indexes into steps of the new links that need a call-me (at most 60).
  std::vector<size_t> call_me;
};

inline constexpr size_t kMaxLinks = 64;
inline constexpr size_t kMaxPartialLinks = 20;
inline constexpr size_t kMaxCallMe = 60;

// Walks the entries as a handle with `counts` links sees them; `linked` tells
// whether a user id has a link already. Failures older than 30 minutes are
// forgotten on the way.
template <typename Linked>
peer_list_plan plan_peer_list(const std::vector<peer_entry>& entries, const own_addresses& own,
                              const peer_list_rules& rules, link_counts counts, Linked linked, failed_peers& failed,
                              uint32_t now_ms);

// Percentage of the file a have-map covers: 100 only when it covers the whole
// size, else at most 99.
uint32_t have_percent(uint64_t have_bytes, uint64_t file_size);
// Blocks of 1024 bytes in a file, and the length of block i (0 past the end).
uint64_t file_block_count(uint64_t file_size);
uint32_t file_block_length(uint64_t file_size, uint64_t block);

// ---- template definition

bool plan_step_usable(const peer_entry& e, const own_addresses& own, const peer_list_rules& rules);

template <typename Linked>
peer_list_plan plan_peer_list(const std::vector<peer_entry>& entries, const own_addresses& own,
                              const peer_list_rules& rules, link_counts counts, Linked linked, failed_peers& failed,
                              uint32_t now_ms) {
  peer_list_plan plan;
  if (rules.disable_sources) return plan;
  std::map<uint64_t, bool> taken;
  for (const peer_entry& e : entries) {
    peer_list_plan::step s;
    s.entry = e;
    if (!plan_step_usable(e, own, rules)) {
      plan.steps.push_back(s);
      continue;
    }
    if (linked(e.user_id) || taken.count(e.user_id) || failed.recent(e.user_id, now_ms)) {
      s.outcome = entry_outcome::kDuplicate;
      ++plan.duplicates;
      plan.steps.push_back(s);
      continue;
    }
    if (counts.links > kMaxLinks) {
      s.outcome = entry_outcome::kStopped;
      plan.steps.push_back(s);
      break;
    }
    const bool full = e.percent >= 100;
    if (!full && counts.partial_links >= kMaxPartialLinks) {
      s.outcome = entry_outcome::kPartialFull;
      plan.partial_limit_reached = true;
      plan.steps.push_back(s);
      break;
    }
    s.outcome = entry_outcome::kNewLink;
    s.lan = peer_on_lan(e, own);
    ++counts.links;
    if (!full) ++counts.partial_links;
    ++plan.new_links;
    taken[e.user_id] = true;
    plan.steps.push_back(s);
    if (!peer_reached_directly(e, s.lan) && plan.call_me.size() < kMaxCallMe)
      plan.call_me.push_back(plan.steps.size() - 1);
  }
  return plan;
}

}  // namespace p2p
