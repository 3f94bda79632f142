// Upload users: one entry per (file, peer) being served, with the bytes and
// reads accounted to it, the request check that chokes peers whose requests
// waste the block cache, the list of choked peers held for 300 seconds, the
// time-out sweep and the peer list copy. Times are passed in (seconds since
// 1970; tick milliseconds for the rate meters). The owner locks. Platform-free.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "p2pcore/codec/rate_meter.h"
#include "p2pcore/seedlift_api.h"

namespace p2p {

// "%s|%I64d": the file hash as 32 upper-case hex digits and the user id in decimal.
std::string upload_user_key(const uint8_t fid[16], uint64_t user_id);

// Cache usage of a user in percent: requested bytes per byte read from disk
// for it. 100 while its last transfer is within 60 s of its creation (when
// that rule applies); with nothing read from disk, 100 when it asked for
// anything, else 0. A quotient too large for an int stays at the largest int.
int cache_usage_percent(const upload_user_info& u, bool sixty_second_rule);

// What the table reports to its owner for the log.
class upload_user_events {
 public:
  virtual ~upload_user_events() = default;
  virtual void added(const upload_user_info&) {}
  virtual void refused_choked(const upload_user_info&) {}
  virtual void refused_full(const upload_user_info&, size_t /*users*/) {}
  virtual void expired(const upload_user_info&, int /*cache_usage*/) {}
  virtual void choked(const std::string& /*key*/, int /*cache_usage*/) {}
  virtual void unchoked(const std::string& /*key*/, uint32_t /*choked_at*/) {}
  virtual void transferred(const upload_user_info&) {}
};

// Where the choke notice (UDP 36) to a choked peer goes.
struct choke_notice {
  bool send = false;
  bool wrapped = false;
  uint32_t ip = 0;
  uint16_t port = 0;
};
// A choked peer is refused for this long.
inline constexpr uint32_t kChokeHoldSeconds = 300;

enum : int { kUserChoked = -1, kUserNoRoom = 0, kUserAdded = 1 };

class upload_user_table {
 public:
  explicit upload_user_table(upload_user_events* events = nullptr) : events_(events) {}
  // Threshold in percent (UserCacheHitedPer) and the most users served at once (UploadUserMax).
  void start(uint32_t choke_threshold, uint32_t max_users);
  uint32_t choke_threshold() const { return threshold_; }
  uint32_t max_users() const { return max_users_; }

  // kUserAdded when added or already present, kUserChoked while the key is
  // choked, kUserNoRoom when UploadUserMax users are served and none expired.
  int add(const upload_user_info& record, uint32_t now);
  // False: serve the request; true: refuse it. A user whose cache usage is
  // below the threshold is choked and removed; when wrapped is not -1 the
  // notice to send is filled (wrapped 1: in the outer layer).
  bool check_request(const uint8_t fid[16], uint64_t user_id, int wrapped, uint8_t request_type, uint32_t nat_word,
                     uint32_t now, choke_notice* notice);
  // A completed read for the user: requested length, bytes read from disk,
  // shared flag (1: from the cache or a read another request started).
  void report_transfer(const uint8_t fid[16], uint64_t user_id, uint32_t requested, uint32_t disk_bytes, int shared,
                       uint32_t now, uint32_t tick_ms);
  // The user's packet sequence number, then advanced; 0 for an unknown user.
  uint32_t next_sequence(const uint8_t fid[16], uint64_t user_id);
  bool set_version(const uint8_t fid[16], uint64_t user_id, const uint8_t info[40]);
  // Rows of the users the peer list shows, rates refreshed, in key order.
  int copy_list(upload_user_info* rows, int max_rows, uint32_t now, uint32_t tick_ms);
  bool find(const uint8_t fid[16], uint64_t user_id, upload_user_info* out) const;
  // Takes a record as it stands, times included (restoring a user as it was).
  void put(const upload_user_info& record);
  // Removes expired users: never transferred and created more than 15 s ago,
  // or no transfer for more than 60 s. At most every 20 s unless forced.
  size_t sweep(uint32_t now, bool force = false);
  // Drops every user and every choke.
  void clear();
  size_t size() const { return users_.size(); }

  bool is_choked(const std::string& key, uint32_t now);
  // Releases chokes of 300 s or more; at most every 60 s. The number released.
  size_t check_chokes(uint32_t now);
  size_t chokes() const { return choked_.size(); }

 private:
  struct user {
    upload_user_info info;
    uint32_t sequence = 0;
    rate_meter meter{10};
  };
  user* lookup(const uint8_t fid[16], uint64_t user_id);

  upload_user_events* events_;
  uint32_t threshold_ = 30;
  uint32_t max_users_ = 500;
  std::map<std::string, user> users_;
  uint32_t last_sweep_ = 0;
  std::map<std::string, uint32_t> choked_;
  uint32_t last_choke_check_ = 0;
};

}  // namespace p2p
