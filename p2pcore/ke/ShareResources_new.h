// The share list (shareres_manager): both share buckets, the ordered map of
// every share, the share-list files loaded at start (share_list_files.cpp),
// the share reports and their state (share_reports.cpp), the upload speed
// limiter and pause flag. The recently requested files: recent_requests.h.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/share_list_file.h"
#include "p2pcore/ke/recent_requests.h"
#include "p2pcore/ke/sharehash.h"
#include "p2pcore/p2pbase/ke/speedlimit.h"

namespace p2p {

// What a share report needs of the session's current server link.
class share_report_link {
 public:
  virtual ~share_report_link() = default;
  virtual uint8_t node_type() = 0;
  virtual uint64_t node_id() = 0;
  virtual void send_to_sp(const std::vector<uint8_t>& body) = 0;  // UDP command 28
  virtual bool send_to_up(const std::vector<uint8_t>& body) = 0;  // TCP command 10
  virtual void stamp_up_tick() = 0;
};

struct transfer_stats {
  struct side { int ok, tries; uint64_t bytes; };
  struct row { side pub, lan; };
  row session, history;
};

class shareres_manager {
 public:
  shareres_manager();
  shareres_manager(const shareres_manager&) = delete;
  shareres_manager& operator=(const shareres_manager&) = delete;

  std::atomic<int> pause_upload{0};  // set by the export, read by the scheduler and workers
  transfer_stats download_stats = {};
  transfer_stats upload_stats = {};

  // Locks are taken in one order: this one, then a bucket's. A thread that
  // holds a bucket lock enters this one only when it holds it already.
  void lock() { ordered_lock().Enter(); }
  void unlock() { lock_.Leave(); }
  bool held_by_this_thread() const { return lock_.HeldByThisThread(); }
  share_hash_manager* bucket_for(const uint8_t* fid) { return buckets_[fid[0] & 1]; }

  int add_share(const char* path, uint64_t size, const uint8_t* fid, uint32_t last_access, int extra = 0);
  bool delete_share_byfid(const uint8_t* fid, int flag);
  bool pause_share_byfid(const uint8_t* fid, int flag);
  int add_item(share_item* item);
  bool remove_item(const uint8_t* fid);
  int copy_share_filelist(share_file_info* rows, uint32_t max_rows);
  int share_count();
  void set_files_limit(uint32_t limit) { files_limit_ = limit; }
  uint32_t files_limit() const { return files_limit_; }

  // Non-zero when a read was started (its completion runs); 0 refused, with
  // the reason in *refusal when given (kRefusedBySpeedLimit or 0).
  int req_upload_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length, read_completion done,
                      uintptr_t user1, uintptr_t user2, int* refusal = nullptr);
  int req_verify_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length, read_completion done,
                      uintptr_t user1, uintptr_t user2);
  bool query_share_counted(const uint8_t* fid, char path[255], uint64_t* size, const int* mode);
  // The block caches' block size in bytes; a TCP Req_data piece is this many KiB.
  uint32_t cache_block_size();

  void set_upload_speed_limit(uint64_t bytes_per_second);
  uint64_t upload_speed_limit();
  // The same without the limiter's lock, for sizing the parts of a request.
  uint64_t upload_limit_now() const { return limit_now_.load(std::memory_order_relaxed); }
  bool allow_upload(uint64_t bytes);

  void reload_share_list();
  void reload_new_share();
  // Records of one file appended to the collection; logs what it found.
  size_t load_share(const std::wstring& path, share_list_collector& records);

  void send_shareres_to_sp(share_report_link& link);
  void server_accept_share(const uint8_t* body, size_t n, share_report_link& link);
  int send_shareres_to_up(bool periodic, share_report_link& link);
  void server_accept_share_up(share_report_link& link);
  void reset_shareres_stat();
  void set_batch_max(uint16_t max) { batch_max_ = max; }
  // Session end: every share freed, the buckets emptied and the limiter new.
  void clear();

  // Report state, for the session and for tests.
  uint32_t serial_counter() const { return serial_; }
  bool waiting() const { return waiting_ != 0; }
  bool report_pending() const { return report_pending_ != 0; }
  uint32_t presend_count() const { return presend_; }

 private:
  // The share list's lock, checked against the lock order before it is entered.
  CLock& ordered_lock();
  void collect_batch(bool was_waiting, size_t max_items, std::vector<share_item*>& taken);
  std::string statistics_dump();

  CLock lock_;
  std::map<std::string, share_item*> shares_;
  share_hash_manager* buckets_[2];
  uint32_t files_limit_ = 100000;
  std::map<std::string, uint32_t> delete_queue_;
  uint8_t delete_batch_ = 0;
  uint32_t last_up_batch_ = 0;
  uint32_t serial_ = 0;
  uint32_t waiting_ = 0;
  uint32_t report_pending_ = 0;
  uint16_t batch_max_ = 0;
  CLock limiter_lock_;
  clocked_speed_limiter* limiter_;
  std::atomic<uint64_t> limit_now_{0};
  uint32_t presend_ = 0;
};

shareres_manager* get_shareres_manager();

}  // namespace p2p
