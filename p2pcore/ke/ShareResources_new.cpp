// The share list: adds and removes, listing, requests, share-list files,
// share reports and the recently requested files.
#include "p2pcore/ke/ShareResources_new.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "foundation/check/orchard_assert.h"
#include "foundation/sync/locks.h"
#include "p2pcore/codec/share_report.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/options.h"
#include "p2pcore/ke/uploaduser.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/stat/StatAPI.h"

namespace p2p {

namespace {
std::string key_of(const uint8_t* fid) { return std::string(reinterpret_cast<const char*>(fid), 16); }
uint64_t now_seconds() { return uint64_t(std::time(nullptr)); }
}  // namespace

// ---- recently requested files

high_priority_file_manager::high_priority_file_manager() {}

high_priority_file_manager* get_high_priority_file_manager() {
  static high_priority_file_manager* m = new high_priority_file_manager;
  return m;
}

void high_priority_file_manager::check_timeout(uint64_t now) {
  CLockGuard h(lock_);
  if (now - last_pass_ < 11) return;
  P2P_LOG(9, "high_priority_file_manager::check_timeout totoal file [%d]", int(files_.size()));
  for (auto it = files_.begin(); it != files_.end();) {
    if (now - it->second < 30) {
      P2P_LOG(9, "high_priority_file_manager::check_timeout pubfile fid[%s]", it->first.c_str());
      ++it;
    } else {
      P2P_LOG(9, "high_priority_file_manager::check_timeout timeout fid[%s]", it->first.c_str());
      it = files_.erase(it);
    }
  }
  last_pass_ = now;
}

int high_priority_file_manager::note_request(const uint8_t* fid, int kind) {
  if (!fid) return 0;
  const uint64_t now = now_seconds();
  check_timeout(now);
  const std::string hex = hash_hex(fid);
  CLockGuard h(lock_);
  if (kind == 8) {
    files_[hex] = now;
    return 1;
  }
  return (!files_.empty() && files_.find(hex) == files_.end()) ? 0 : 1;
}

int high_priority_file_manager::is_not_listed(const uint8_t* fid) {
  if (!fid) return 1;
  CLockGuard h(lock_);
  return files_.count(hash_hex(fid)) ? 0 : 1;
}

void high_priority_file_manager::remove(const std::string& fid_hex) {
  CLockGuard h(lock_);
  files_.erase(fid_hex);
}

void high_priority_file_manager::clear(uint64_t now) {
  CLockGuard h(lock_);
  files_.clear();
  last_pass_ = now;
}

size_t high_priority_file_manager::size() {
  CLockGuard h(lock_);
  return files_.size();
}

// ---- share list

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

// ---- share-list files

void shareres_manager::reload_share_list() {
  get_high_priority_file_manager()->clear(now_seconds());
  get_upload_user_manager()->start(uint32_t(std::max(settings().user_cache_hited_per, 0)),
                                   uint32_t(std::max(settings().upload_user_max, 1)));
  const cache_geometry g = cache_geometry_of(settings());
  for (share_hash_manager* b : buckets_) b->configure_cache(g.bucket_capacity, g.block_size);
  reload_new_share();
}

uint32_t shareres_manager::cache_block_size() { return buckets_[0]->cache()->block_size(); }

size_t shareres_manager::load_share(const std::wstring& path, share_list_collector& records) {
  std::string shown;
  if (!to_ansi_exact(path.c_str(), &shown)) shown = "?";
  const char* name = shown.c_str();
  const bool exists = file_exists(path);
  const uint64_t size = file_size(path);
  if (size > kShareListMaxFile) {
    P2P_LOG(3, "load_share : file size too big , size: %llu", (unsigned long long)size);
    return 0;
  }
  if (size <= kShareListHeader) {
    P2P_LOG(3, (std::string("load_share : %s ") + gbk(exists ? "无数据" : "文件不存在")).c_str(), name);
    return 0;
  }
  std::vector<uint8_t> bytes;
  if (!read_whole_file(path, &bytes) || bytes.size() < size) {
    P2P_LOG(3, (std::string("load_share : %s ") + gbk("文件读取失败")).c_str(), name);
    return 0;
  }
  share_list_result r = records.add_file(bytes.data(), bytes.size());
  switch (r.status) {
    case share_list_status::ok:
      break;
    case share_list_status::too_big:
      P2P_LOG(3, "load_share : file size too big , size: %llu", (unsigned long long)bytes.size());
      return 0;
    case share_list_status::no_data:
      P2P_LOG(3, (std::string("load_share : %s ") + gbk("无数据")).c_str(), name);
      return 0;
    case share_list_status::unknown_pattern:
      P2P_LOG(9, "load_share[Unkown patten]");
      return 0;
    case share_list_status::bad_size:
      P2P_LOG(3, (std::string("load_share : %s ") + gbk("文件大小错误") + ": %lld").c_str(), name,
              (long long)bytes.size());
      return 0;
    case share_list_status::bad_check:
      P2P_LOG(3, (std::string("load_share : %s ") + gbk("文件校验错误")).c_str(), name);
      return 0;
  }
  P2P_LOG(9, r.new_pattern ? "load_share[new patten]: %s, %d new items" : "load_share[old patten]: %s, %d new items",
          name, int(r.appended));
  return r.appended;
}

void shareres_manager::reload_new_share() {
  CLockGuard h(ordered_lock());
  const DWORD started = GetTickCount();
  const std::wstring dir = app_dir();
  share_list_collector records;
  if (!options().local_share) load_share(join_path(dir, L"vxsecushr.dat"), records);
  load_share(join_path(dir, L"vxpup.dat"), records);
  records.keep_largest(files_limit_);
  static const char tabs[] = "\t\t\t\t\t\t\t\t\t\t   ";
  int added = 0;
  for (share_list_record& r : records.records()) {
    share_hash_manager* b = bucket_for(r.fid);
    const uint64_t recorded = r.last_write;
    b->lock();
    int result = b->insert_share(&recorded, r.path, r.size, r.fid, 0, r.last_access, 0);
    b->unlock();
    const std::string hex = hash_hex(r.fid);
    if (result == 0) {
      ++added;
      P2P_LOG(9, "shareres_manager::reload_new_share, addshare item,sucess%shash=[%s],filename=[%s],filesize=[%llu],",
              tabs, hex.c_str(), r.path, (unsigned long long)r.size);
    } else {
      P2P_LOG(9,
              "shareres_manager::reload_new_share, addshare item,failed%shash=[%s],filename=[%s],filesize=[%llu],"
              "errcode:[%d]",
              tabs, hex.c_str(), r.path, (unsigned long long)r.size, result);
    }
  }
  P2P_LOG(9, "shareres_manager::reload_new_share, : add %d share items, user time[%llu]", added,
          (unsigned long long)(GetTickCount() - started));
}

// ---- share reports

void shareres_manager::collect_batch(bool was_waiting, size_t max_items, std::vector<share_item*>& taken) {
  const uint32_t now = uint32_t(std::time(nullptr));
  for (auto& [key, item] : shares_) {
    share_hash_manager* b = bucket_for(item->head.fid);
    b->lock();
    if (item->file && now - item->head.last_access > 7200) close_share_file(item);
    b->unlock();
    if (taken.size() >= max_items) continue;  // the handle pass covers every share
    const bool take = was_waiting ? item->report_state == kReportSent : item->report_state == kReportNew;
    if (!take) continue;
    item->report_state = kReportSent;
    item->report_serial = serial_;
    item->report_tick = GetTickCount();
    taken.push_back(item);
  }
}

void shareres_manager::send_shareres_to_sp(share_report_link& link) {
  CLockGuard h(ordered_lock());
  if (!waiting_ && !report_pending_) return;
  const bool was_waiting = waiting_ != 0;
  if (!was_waiting) ++serial_;
  std::vector<share_item*> taken;
  collect_batch(was_waiting, kSpBatchMax, taken);
  std::vector<const uint8_t*> fids;
  for (share_item* item : taken) {
    P2P_LOG(9,
            "shareres_manager::send_shareres_to_sp, addshare item: hash=[%s],filename=[%s],filesize=[%lld],"
            "serialid=[%d],sharecount=[%d]",
            hash_hex(item->head.fid).c_str(), item->head.path, (long long)item->head.size, int(serial_),
            int(shares_.size()));
    fids.push_back(item->head.fid);
  }
  presend_ += uint32_t(taken.size());
  if (taken.empty()) {
    if (was_waiting) waiting_ = 0;
    else report_pending_ = 0;
    // No batch went out: its SerialID is still free, so the first batch carries 1.
    if (!was_waiting) --serial_;
    return;
  }
  link.send_to_sp(sp_share_batch(link.node_type(), link.node_id(), serial_, fids));
  P2P_LOG(9, "shareres_manager::send_shareres_to_sp: send_share %d items, SerialID %u, retrans %d", int(taken.size()),
          serial_, int(was_waiting));
  waiting_ = 1;
}

void shareres_manager::server_accept_share(const uint8_t* body, size_t n, share_report_link& link) {
  uint32_t serial = 0;
  if (!accept_serial(body, n, &serial)) return;
  {
    CLockGuard h(ordered_lock());
    for (auto& [key, item] : shares_)
      if (item->report_serial == serial) item->report_state = kReportAcked;
    waiting_ = 0;
    report_pending_ = 1;
    P2P_LOG(9, "server_accept_share : SerialID %u", serial);
  }
  send_shareres_to_sp(link);
}

int shareres_manager::send_shareres_to_up(bool periodic, share_report_link& link) {
  CLockGuard h(ordered_lock());
  const uint32_t was_waiting = waiting_;
  if (!report_pending_ || (was_waiting && !periodic)) return int(was_waiting);
  if (!was_waiting) ++serial_;
  P2P_LOG(9, "********** the del que is %d **********\n", int(delete_queue_.size()));
  P2P_LOG(9, "********** the add que is %d **********\n", int(shares_.size()));
  std::vector<share_item*> taken;
  collect_batch(was_waiting != 0, std::min<size_t>(batch_max_, kUpBatchMax), taken);
  std::vector<const uint8_t*> fids;
  for (share_item* item : taken) {
    P2P_LOG(9,
            "TCP::ServerManager send_shareres_to_up, addshare item: hash=[%s],filename=[%s],filesize=[%lld],"
            "serialid=[%d],sharecount=[%d]",
            hash_hex(item->head.fid).c_str(), item->head.path, (long long)item->head.size, int(serial_),
            int(shares_.size()));
    fids.push_back(item->head.fid);
  }
  if (taken.empty()) {
    P2P_LOG(9, "TCP::ServerManager send_shareres_to_up: no file to share\n");
    waiting_ = 0;
    report_pending_ = 0;
    if (!was_waiting) --serial_;
    return int(was_waiting);
  }
  P2P_LOG(9, "TCP::ServerManager to send addfile number=[%d]", int(taken.size()));
  link.stamp_up_tick();
  delete_batch_ = 0;
  last_up_batch_ = uint32_t(taken.size());
  if (link.send_to_up(up_share_batch(1, fids))) {
    P2P_LOG(9, "TCP::ServerManager send_shareres_to_up: send_share type add %d items, SerialID %u, totaladd %u, retrans %d",
            int(taken.size()), serial_, last_up_batch_, int(was_waiting));
    waiting_ = 1;
  } else if (!was_waiting) {
    // A new batch that could not be sent goes back to "not reported", so the
    // next pass reports its items again rather than never.
    for (share_item* item : taken) item->report_state = kReportNew;
  }
  return int(was_waiting);
}

void shareres_manager::server_accept_share_up(share_report_link& link) {
  link.stamp_up_tick();
  {
    CLockGuard h(ordered_lock());
    for (auto& [key, item] : shares_)
      if (item->report_serial == serial_) item->report_state = kReportAcked;
    P2P_LOG(9, "server_accept_share : type add SerialID %u and totaladd %u", serial_, last_up_batch_);
    waiting_ = 0;
  }
  P2P_LOG(9, "<<<<<Send Share to up!>>>>>\n");
  send_shareres_to_up(false, link);
}

void shareres_manager::reset_shareres_stat() {
  CLockGuard h(ordered_lock());
  for (auto& [key, item] : shares_) item->report_state = kReportNew;
  report_pending_ = 1;
  delete_queue_.clear();
  waiting_ = 0;
  delete_batch_ = 0;
  if (presend_ != 0) {
    P2P_LOG(9, "shareres_manager::reset_shareres_stat presend[%d] should send[%d]", int(presend_), int(shares_.size()));
    presend_ = 0;
  }
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
