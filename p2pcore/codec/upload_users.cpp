// Upload users and the choke list.
#include "p2pcore/codec/upload_users.h"

#include <climits>
#include <cstdio>

#include "p2pcore/codec/texts.h"
#include "p2pcore/codec/upload_listing.h"

namespace p2p {

namespace {

constexpr size_t kSweepBeforeAddUsers = 1200;
constexpr uint32_t kSweepEverySeconds = 20;
constexpr uint32_t kChokeCheckEverySeconds = 60;

// Seconds from `since` to `now`; a time in the future counts as now.
uint32_t age(uint32_t now, uint32_t since) { return now > since ? now - since : 0; }

// Counters of the packed record are taken by value: they are not aligned.
uint32_t plus_saturating(uint32_t counter, uint64_t n) {
  const uint64_t sum = uint64_t(counter) + n;
  return sum > UINT32_MAX ? UINT32_MAX : uint32_t(sum);
}

}  // namespace

std::string upload_user_key(const uint8_t fid[16], uint64_t user_id) {
  char id[24];
  std::snprintf(id, sizeof id, "%lld", (long long)user_id);
  return hash_hex(fid) + "|" + id;
}

int cache_usage_percent(const upload_user_info& u, bool sixty_second_rule) {
  if (sixty_second_rule && age(u.last_transfer, u.created) < 60) return 100;
  if (u.disk_bytes == 0) return u.requested_bytes ? 100 : 0;
  const uint64_t percent = uint64_t(u.requested_bytes) * 100 / u.disk_bytes;
  return percent > INT32_MAX ? INT32_MAX : int(percent);
}

void upload_user_table::start(uint32_t choke_threshold, uint32_t max_users) {
  threshold_ = choke_threshold;
  max_users_ = max_users ? max_users : 1;
}

upload_user_table::user* upload_user_table::lookup(const uint8_t fid[16], uint64_t user_id) {
  auto it = users_.find(upload_user_key(fid, user_id));
  return it == users_.end() ? nullptr : &it->second;
}

int upload_user_table::add(const upload_user_info& record, uint32_t now) {
  if (users_.size() >= kSweepBeforeAddUsers) sweep(now);
  const std::string key = upload_user_key(record.fid, record.user_id);
  if (users_.count(key)) return kUserAdded;
  if (is_choked(key, now)) {
    if (events_) events_->refused_choked(record);
    return kUserChoked;
  }
  if (users_.size() >= max_users_) sweep(now, true);
  if (users_.size() >= max_users_) {
    if (events_) events_->refused_full(record, users_.size());
    return kUserNoRoom;
  }
  user& u = users_[key];
  u.info = record;
  u.info.created = now;
  u.info.last_transfer = now;
  u.sequence = 0;
  if (events_) events_->added(u.info);
  return kUserAdded;
}

bool upload_user_table::check_request(const uint8_t fid[16], uint64_t user_id, int wrapped, uint8_t request_type,
                                      uint32_t nat_word, uint32_t now, choke_notice* notice) {
  if (notice) *notice = choke_notice{};
  const std::string key = upload_user_key(fid, user_id);
  auto it = users_.find(key);
  if (it == users_.end()) return true;
  upload_user_info& info = it->second.info;
  info.nat_type = uint8_t(nat_word);
  if (request_type == 8) return false;
  const int usage = cache_usage_percent(info, true);
  if (usage >= int(threshold_)) return false;
  if (wrapped != -1 && notice) {
    notice->send = true;
    notice->wrapped = wrapped == 1;
    notice->ip = info.ip;
    notice->port = info.port;
  }
  choked_.emplace(key, now);
  if (events_) events_->choked(key, usage);
  users_.erase(it);
  return true;
}

void upload_user_table::report_transfer(const uint8_t fid[16], uint64_t user_id, uint32_t requested,
                                        uint32_t disk_bytes, int shared, uint32_t now, uint32_t tick_ms) {
  user* u = lookup(fid, user_id);
  if (!u) return;
  upload_user_info& info = u->info;
  if (info.first_transfer == 0) info.first_transfer = now;
  info.last_transfer = now;
  info.uploaded += requested;
  info.block_reads = plus_saturating(info.block_reads, 1);
  info.requested_bytes = plus_saturating(info.requested_bytes, requested);
  if (shared == 1)
    info.cache_reads = plus_saturating(info.cache_reads, 1);
  else
    info.disk_bytes = plus_saturating(info.disk_bytes, disk_bytes);
  u->meter.add(requested, tick_ms);
  info.rate = u->meter.rate(tick_ms);
  if (events_) events_->transferred(info);
}

uint32_t upload_user_table::next_sequence(const uint8_t fid[16], uint64_t user_id) {
  user* u = lookup(fid, user_id);
  return u ? u->sequence++ : 0;
}

bool upload_user_table::set_version(const uint8_t fid[16], uint64_t user_id, const uint8_t info[40]) {
  user* u = lookup(fid, user_id);
  if (!u) return false;
  u->info.version_ip = uint32_t(info[0] | info[1] << 8 | info[2] << 16 | uint32_t(info[3]) << 24);
  u->info.version_value = uint32_t(info[4] | info[5] << 8 | info[6] << 16 | uint32_t(info[7]) << 24);
  for (size_t i = 0; i < sizeof u->info.version_text; ++i) u->info.version_text[i] = char(info[8 + i]);
  u->info.version_text[sizeof u->info.version_text - 1] = 0;
  return true;
}

int upload_user_table::copy_list(upload_user_info* rows, int max_rows, uint32_t now, uint32_t tick_ms) {
  if (!rows || max_rows <= 0) return 0;
  int n = 0;
  for (auto& [key, u] : users_) {
    if (n >= max_rows) break;
    if (!upload_user_listed(now, u.info.created, u.info.first_transfer, u.info.last_transfer)) continue;
    u.info.rate = u.meter.rate(tick_ms);
    rows[n++] = u.info;
  }
  return n;
}

bool upload_user_table::find(const uint8_t fid[16], uint64_t user_id, upload_user_info* out) const {
  auto it = users_.find(upload_user_key(fid, user_id));
  if (it == users_.end()) return false;
  if (out) *out = it->second.info;
  return true;
}

void upload_user_table::put(const upload_user_info& record) {
  user& u = users_[upload_user_key(record.fid, record.user_id)];
  u.info = record;
  u.sequence = 0;
}

size_t upload_user_table::sweep(uint32_t now, bool force) {
  if (!force && age(now, last_sweep_) < kSweepEverySeconds) return 0;
  last_sweep_ = now;
  size_t removed = 0;
  for (auto it = users_.begin(); it != users_.end();) {
    const upload_user_info& i = it->second.info;
    const bool expired = (i.first_transfer == 0 && age(now, i.created) > 15) || age(now, i.last_transfer) > 60;
    if (!expired) {
      ++it;
      continue;
    }
    if (events_) events_->expired(i, cache_usage_percent(i, false));
    it = users_.erase(it);
    ++removed;
  }
  return removed;
}

void upload_user_table::clear() {
  users_.clear();
  choked_.clear();
}

size_t upload_user_table::check_chokes(uint32_t now) {
  if (age(now, last_choke_check_) < kChokeCheckEverySeconds) return 0;
  last_choke_check_ = now;
  size_t released = 0;
  for (auto it = choked_.begin(); it != choked_.end();) {
    if (age(now, it->second) < kChokeHoldSeconds) {
      ++it;
      continue;
    }
    if (events_) events_->unchoked(it->first, it->second);
    it = choked_.erase(it);
    ++released;
  }
  return released;
}

bool upload_user_table::is_choked(const std::string& key, uint32_t now) {
  check_chokes(now);
  return choked_.count(key) != 0;
}

}  // namespace p2p
