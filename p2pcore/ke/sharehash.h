// Share index: one bucket (share_hash_manager) of the two the share list
// splits its shares over, with its lock, hash table, block cache and the share
// items' request paths.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "foundation/sync/locks.h"
#include "p2pcore/codec/rate_meter.h"
#include "p2pcore/codec/share_hash_table.h"
#include "p2pcore/codec/share_list_file.h"
#include "p2pcore/ke/filecache.h"
#include "p2pcore/p2pbase/inc/winutil.h"
#include "p2pcore/seedlift_api.h"

namespace p2p {

// Why a block request was refused, when it was the speed limit.
enum : int { kRefusedBySpeedLimit = 1 };

// Report states of a share.
enum : uint32_t { kReportNew = 0, kReportSent = 1, kReportAcked = 2 };

struct share_item {
  share_list_record head;  // as in the share-list files
  uint32_t report_serial = 0;
  uint32_t report_tick = 0;
  uint32_t report_state = kReportNew;
  share_file_info row;
  shared_file* file = nullptr;  // null while closed; reads in flight hold their own reference
  rate_meter meter{10};
  int extra = 0;
};

// Cancels reads in flight and lets go of the share's handle; the handle
// itself closes when the last read holding it completes.
void close_share_file(share_item* item);

class share_hash_manager {
 public:
  share_hash_manager();
  ~share_hash_manager();
  share_hash_manager(const share_hash_manager&) = delete;
  share_hash_manager& operator=(const share_hash_manager&) = delete;

  void lock() { lock_.Enter(); }
  void unlock() { lock_.Leave(); }
  bool held_by_this_thread() const { return lock_.HeldByThisThread(); }

  int add_file_sharelist(const char* path, uint64_t size, const uint8_t* fid, uint32_t last_access, int extra);
  // 0 new, 1 present, 2 null fid or size 0, 4 unreadable or size differs.
  // Under this bucket's lock; the share list's lock is re-entered to hand the
  // new item over, so the caller holds that one too (taken first).
  int insert_share(const uint64_t* recorded_time, const char* path, uint64_t size, const uint8_t* fid,
                   uint8_t paused, uint32_t last_access, int extra);
  // Under this bucket's lock.
  share_item* find_share(const uint8_t* fid);
  void remove_share(const uint8_t* fid);
  bool pause_file_from_sharelist(const uint8_t* fid, int flag);
  bool delete_file_from_sharelist(const uint8_t* fid, int flag);
  bool query_share(const uint8_t* fid, char path[255], uint64_t* size);
  bool query_share_counted(const uint8_t* fid, char path[255], uint64_t* size, const int* mode);
  // Non-zero when a read was started (its completion will run, or ran with an error: -1); 0 refused.
  int req_upload_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length, read_completion done,
                      uintptr_t user1, uintptr_t user2, int* refusal = nullptr);
  int req_verify_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length, read_completion done,
                      uintptr_t user1, uintptr_t user2);
  // Empties the table; the items themselves belong to the share list. Under the bucket lock.
  void reset_table();
  // Rebuilds the block cache when its size or block size changed; only while
  // no read is in flight (the session's start).
  void configure_cache(uint64_t capacity, uint32_t block_size);
  file_cache_manager* cache() { return cache_; }
  uint32_t entries() const { return table_ ? table_->entries() : 0; }

 private:
  int request(bool verify, const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length,
              read_completion done, uintptr_t user1, uintptr_t user2);
  CLock lock_;
  share_hash_table* table_;
  file_cache_manager* cache_;
};

}  // namespace p2p
