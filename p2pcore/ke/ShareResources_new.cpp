// The share list: adds and removes, listing, requests and the upload limit,
// its statistics and its clearing at a stop. Its files, its reports and the
// recently requested files have files of their own.
#include "p2pcore/ke/ShareResources_new.h"

#include <cstdio>
#include <cstring>

#include "foundation/check/orchard_assert.h"
#include "foundation/sync/locks.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"

namespace p2p {

namespace {
std::string key_of(const uint8_t* fid) { return std::string(reinterpret_cast<const char*>(fid), 16); }
}  // namespace

shareres_manager::shareres_manager() {
  buckets_[0] = new share_hash_manager;
  buckets_[1] = new share_hash_manager;
  limiter_ = new clocked_speed_limiter;
  limit_now_ = limiter_->limit();
  stat_set_upload_limit(limiter_->limit());
}

CLock& shareres_manager::ordered_lock() {
  ORCHARD_ASSERT(held_by_this_thread() ||
                 (!buckets_[0]->held_by_this_thread() && !buckets_[1]->held_by_this_thread()));
  return lock_;
}

shareres_manager* get_shareres_manager() {
  static shareres_manager* m = new shareres_manager;
  return m;
}

int shareres_manager::add_share(const char* path, uint64_t size, const uint8_t* fid, uint32_t last_access,
                                int extra) {
  if (!fid) return 2;
  CLockGuard h(ordered_lock());
  return bucket_for(fid)->add_file_sharelist(path, size, fid, last_access, extra);
}

bool shareres_manager::delete_share_byfid(const uint8_t* fid, int flag) {
  if (!fid) return false;
  CLockGuard h(ordered_lock());
  return bucket_for(fid)->delete_file_from_sharelist(fid, flag);
}

bool shareres_manager::pause_share_byfid(const uint8_t* fid, int flag) {
  if (!fid) return false;
  CLockGuard h(ordered_lock());
  return bucket_for(fid)->pause_file_from_sharelist(fid, flag);
}

int shareres_manager::add_item(share_item* item) {
  CLockGuard h(ordered_lock());
  shares_[key_of(item->head.fid)] = item;
  report_pending_ = 1;
  return 1;
}

bool shareres_manager::remove_item(const uint8_t* fid) {
  CLockGuard h(ordered_lock());
  auto it = shares_.find(key_of(fid));
  if (it == shares_.end()) return false;
  share_item* item = it->second;
  shares_.erase(it);
  close_share_file(item);
  delete item;
  return true;
}

int shareres_manager::share_count() {
  CLockGuard h(ordered_lock());
  return int(shares_.size());
}

int shareres_manager::copy_share_filelist(share_file_info* rows, uint32_t max_rows) {
  CLockGuard h(ordered_lock());
  if (!rows || max_rows == 0) return int(shares_.size());
  const uint32_t now = GetTickCount();
  uint32_t n = 0;
  for (auto& [key, item] : shares_) {
    if (n >= max_rows) break;
    share_hash_manager* b = bucket_for(item->head.fid);
    b->lock();
    item->row.rate = item->meter.rate(now);
    std::memcpy(&rows[n], &item->row, sizeof(share_file_info));
    b->unlock();
    ++n;
  }
  return int(n);
}

int shareres_manager::req_upload_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length,
                                      read_completion done, uintptr_t user1, uintptr_t user2, int* refusal) {
  if (refusal) *refusal = 0;
  if (!fid) return 0;
  if (pause_upload && get_high_priority_file_manager()->is_not_listed(fid)) return 0;
  return bucket_for(fid)->req_upload_data(fid, user_id, offset, length, done, user1, user2, refusal);
}

int shareres_manager::req_verify_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length,
                                      read_completion done, uintptr_t user1, uintptr_t user2) {
  if (!fid || pause_upload) return 0;
  return bucket_for(fid)->req_verify_data(fid, user_id, offset, length, done, user1, user2);
}

bool shareres_manager::query_share_counted(const uint8_t* fid, char path[255], uint64_t* size, const int* mode) {
  if (!fid) return false;
  return bucket_for(fid)->query_share_counted(fid, path, size, mode);
}

void shareres_manager::set_upload_speed_limit(uint64_t bytes_per_second) {
  CLockGuard h(limiter_lock_);
  P2P_LOG(9, "shareres_manager::set_upload_speed_limit speed limit[%lld]", (long long)bytes_per_second);
  limiter_->set_limit(bytes_per_second);
  limit_now_ = bytes_per_second;
  stat_set_upload_limit(bytes_per_second);
}

uint64_t shareres_manager::upload_speed_limit() {
  CLockGuard h(limiter_lock_);
  return limiter_->limit();
}

bool shareres_manager::allow_upload(uint64_t bytes) {
  if (bytes == 0) return true;  // nothing to count (a piece past the end of its file, refused later)
  CLockGuard h(limiter_lock_);
  return limiter_->allow(bytes) != 0;
}

std::string shareres_manager::statistics_dump() {
  const std::string dashes = std::string(55, '-') + "\r\n";
  auto rows = [&](const char* head, const transfer_stats& s) {
    char line[256];
    std::string out = head;
    out += dashes;
    std::snprintf(line, sizeof line, "session  | %5d/%-5d %8s | %5d/%-5d %8s\r\n", s.session.pub.ok, s.session.pub.tries,
                  size_text(int64_t(s.session.pub.bytes)).c_str(), s.session.lan.ok, s.session.lan.tries,
                  size_text(int64_t(s.session.lan.bytes)).c_str());
    out += line;
    std::snprintf(line, sizeof line, "history  | %5d/%-5d %8s | %5d/%-5d %8s\r\n", s.history.pub.ok, s.history.pub.tries,
                  size_text(int64_t(s.history.pub.bytes)).c_str(), s.history.lan.ok, s.history.lan.tries,
                  size_text(int64_t(s.history.lan.bytes)).c_str());
    out += line;
    return out;
  };
  return "Global stat\r\n" + rows("download | PUB ok/try   bytes   | LAN ok/try    bytes  \r\n", download_stats) +
         std::string(55, '-') + "\r\n\r\n" +
         rows("upload   | PUB ok/try   bytes   | LAN ok/try    bytes  \r\n", upload_stats) + dashes;
}

void shareres_manager::clear() {
  {
    CLockGuard h(ordered_lock());
    P2P_LOG(9, "Begin file ok!");
    P2P_LOG(9, "%s", statistics_dump().c_str());
    for (share_hash_manager* b : buckets_) b->lock();
    for (auto& [key, item] : shares_) {
      close_share_file(item);
      bucket_for(item->head.fid)->cache()->drop_file(item->head.fid);
      delete item;
    }
    shares_.clear();
    // The buckets stay, emptied, so a request racing with the stop finds
    // nothing rather than freed memory; the next start fills them again.
    for (share_hash_manager* b : buckets_) {
      b->reset_table();
      b->unlock();
    }
    waiting_ = report_pending_ = presend_ = 0;
    {
      CLockGuard l(limiter_lock_);
      delete limiter_;
      limiter_ = new clocked_speed_limiter;
      limit_now_ = limiter_->limit();
      stat_set_upload_limit(limiter_->limit());
    }
    upload_stats.session = {};
    P2P_LOG(9, "End file ok!!!!!");
  }
  get_upload_user_manager()->clear();
}

}  // namespace p2p
