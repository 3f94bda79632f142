// Share index bucket: inserts, lookups, pause and delete, block and verify requests.
#include "p2pcore/ke/sharehash.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "foundation/check/orchard_assert.h"
#include "foundation/sync/locks.h"
#include "p2pcore/codec/texts.h"
#include "p2pcore/ke/ShareResources_new.h"
#include "p2pcore/p2pbase/inc/p2plog.h"

namespace p2p {

void close_share_file(share_item* item) {
  if (!item->file) return;
  item->file->cancel_reads();
  item->file->release();
  item->file = nullptr;
}

share_hash_manager::share_hash_manager() : table_(share_hash_table::create()) {
  const cache_geometry g = cache_geometry_of(p2p_settings{});
  cache_ = new file_cache_manager(g.bucket_capacity, g.block_size);
}

share_hash_manager::~share_hash_manager() {
  delete cache_;
  delete table_;
}

void share_hash_manager::configure_cache(uint64_t capacity, uint32_t block_size) {
  if (cache_->capacity() == capacity && cache_->block_size() == block_size) return;
  delete cache_;
  cache_ = new file_cache_manager(capacity, block_size);
}

void share_hash_manager::reset_table() {
  ORCHARD_ASSERT(held_by_this_thread());
  delete table_;
  table_ = share_hash_table::create();
}

int share_hash_manager::add_file_sharelist(const char* path, uint64_t size, const uint8_t* fid, uint32_t last_access,
                                           int extra) {
  if (!path || !fid || size == 0) return 2;
  lock();
  int result = insert_share(nullptr, path, size, fid, 0, last_access, extra);
  unlock();
  int count = get_shareres_manager()->share_count();
  P2P_LOG(9, "shareres_manager::add_file_sharelist,filename=[%s],filesize=[%lld],filehash=[%s],ret=[%d],allcount=[%d]",
          path, (long long)size, hash_hex(fid).c_str(), result, count);
  return result;
}

int share_hash_manager::insert_share(const uint64_t* recorded_time, const char* path, uint64_t size,
                                     const uint8_t* fid, uint8_t paused, uint32_t last_access, int extra) {
  ORCHARD_ASSERT(held_by_this_thread());
  ORCHARD_ASSERT(get_shareres_manager()->held_by_this_thread());  // taken before this bucket's
  if (!fid || size == 0) return 2;
  if (!path || !table_) return 4;
  // The fields hold at most 254 characters: a longer path cannot be kept exactly.
  if (std::strlen(path) > 254) return 4;
  uint64_t disk_size = 0;
  FILETIME disk_time = {};
  if (!file_stat(ansi_to_wide(path), &disk_size, &disk_time) || disk_size != size) return 4;
  if (find_share(fid)) return 1;

  share_item* item = new (std::nothrow) share_item;
  if (!item) return 4;
  std::memset(&item->head, 0, sizeof item->head);
  std::memset(&item->row, 0, sizeof item->row);
  std::snprintf(item->head.path, sizeof item->head.path, "%s", path);
  std::snprintf(item->row.path, sizeof item->row.path, "%s", path);
  std::memcpy(item->head.fid, fid, 16);
  std::memcpy(item->row.fid, fid, 16);
  item->head.size = size;
  item->row.size = size;
  item->head.path_length = uint8_t(std::strlen(item->head.path));
  item->head.paused = paused;
  item->head.last_access = last_access;
  item->extra = extra;
  const uint64_t on_disk = (uint64_t(disk_time.dwHighDateTime) << 32) | disk_time.dwLowDateTime;
  if (recorded_time) {
    item->head.last_write = *recorded_time;
    if (*recorded_time != on_disk) {
      FILETIME recorded = {DWORD(*recorded_time), DWORD(*recorded_time >> 32)};
      P2P_LOG(9, "%s", (gbk("load_share : 记载文件修改时间[") + time_text(recorded) + gbk("]与实际值[") +
                        time_text(disk_time) + gbk("]不同 [") + path + "]\r\n").c_str());
    }
  } else {
    item->head.last_write = on_disk;
  }
  if (table_->insert(fid, 16, item) != 0) {
    delete item;
    return 4;
  }
  get_shareres_manager()->add_item(item);
  return 0;
}

share_item* share_hash_manager::find_share(const uint8_t* fid) {
  ORCHARD_ASSERT(held_by_this_thread());
  void* value = nullptr;
  if (!fid || !table_ || !table_->find(fid, 16, &value)) return nullptr;
  share_item* item = static_cast<share_item*>(value);
  item->head.last_access = uint32_t(std::time(nullptr));
  return item;
}

void share_hash_manager::remove_share(const uint8_t* fid) {
  ORCHARD_ASSERT(held_by_this_thread());
  if (table_) table_->remove(fid, 16);
  get_high_priority_file_manager()->remove(hash_hex(fid));
}

bool share_hash_manager::pause_file_from_sharelist(const uint8_t* fid, int flag) {
  if (!fid) return false;
  CLockGuard h(lock_);
  share_item* item = find_share(fid);
  if (!item) return false;
  if (flag) {
    item->head.paused = 1;
    close_share_file(item);
    // A paused share serves nothing: its blocks make room for the others.
    cache_->drop_file(item->head.fid);
  } else {
    item->head.paused = 0;
  }
  P2P_LOG(9, "pause_file_from_sharelist(),[filename:%s]", item->head.path);
  return true;
}

bool share_hash_manager::delete_file_from_sharelist(const uint8_t* fid, int flag) {
  if (!fid) return false;
  CLockGuard h(lock_);
  share_item* item = find_share(fid);
  if (!item) return false;
  const uint64_t served = item->row.uploaded;
  const uint64_t size = item->head.size;
  P2P_LOG(9, "delete_file_from_sharelist(),[filename:%s filesize:%lld totalupload:%lld sendcount:%d%%]",
          item->head.path, (long long)size, (long long)served, int(size ? served * 100 / size : 0));
  if (flag) delete_file(ansi_to_wide(item->head.path));
  uint8_t key[16];
  std::memcpy(key, fid, 16);  // fid may point into the item
  remove_share(key);
  get_shareres_manager()->remove_item(key);
  cache_->drop_file(key);
  return true;
}

bool share_hash_manager::query_share(const uint8_t* fid, char path[255], uint64_t* size) {
  return query_share_counted(fid, path, size, nullptr);
}

bool share_hash_manager::query_share_counted(const uint8_t* fid, char path[255], uint64_t* size, const int* mode) {
  if (!fid || !path) return false;
  CLockGuard h(lock_);
  share_item* item = find_share(fid);
  if (!item) return false;
  std::memcpy(path, item->head.path, 255);
  path[254] = 0;
  if (size) *size = item->head.size;
  if (mode && *mode == 0) ++item->row.handshakes;
  return true;
}

int share_hash_manager::req_upload_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length,
                                        read_completion done, uintptr_t user1, uintptr_t user2, int* refusal) {
  if (!get_shareres_manager()->allow_upload(length)) {
    if (refusal) *refusal = kRefusedBySpeedLimit;
    return 0;
  }
  return request(false, fid, user_id, offset, length, done, user1, user2);
}

int share_hash_manager::req_verify_data(const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length,
                                        read_completion done, uintptr_t user1, uintptr_t user2) {
  return request(true, fid, user_id, offset, length, done, user1, user2);
}

int share_hash_manager::request(bool verify, const uint8_t* fid, uint64_t user_id, uint64_t offset, uint32_t length,
                                read_completion done, uintptr_t user1, uintptr_t user2) {
  if (!fid || !done) return 0;
  const std::string hex = hash_hex(fid);
  lock();
  share_item* item = find_share(fid);
  if (!item) {
    if (verify) P2P_LOG(2, " req_verify_data item ertot");
    P2P_LOG(1, "share_hash_manager::req_upload_data,error not found md5,userid:[%lld],md5:[%s]", (long long)user_id,
            hex.c_str());
    unlock();
    return 0;
  }
  if (item->head.paused == 1) {
    if (verify) P2P_LOG(2, " req_verify_data shire ertot");
    P2P_LOG(1, "share_hash_manager::req_upload_data,filepaused ,userid:[%lld],md5:[%s]", (long long)user_id,
            hex.c_str());
    unlock();
    return 0;
  }
  if (offset >= item->head.size) {
    if (verify) P2P_LOG(2, " req_verify_data size ertot");
    P2P_LOG(verify ? 9 : 1,
            "share_hash_manager::req_upload_data,req offset so big,userid:[%lld],md5:[%s],offset:[%lld],filesize:[%lld]",
            (long long)user_id, hex.c_str(), (long long)offset, (long long)item->head.size);
    unlock();
    return 0;
  }
  if (verify) ++item->row.requests;
  if (!item->file) {
    item->file = shared_file::open_for_upload(item->head.path);
    if (!item->file) {
      P2P_LOG(9, "share_hash_manager::req_upload_data,error openfile:[%s],md5:[%s]", item->head.path, hex.c_str());
      unlock();
      return 0;
    }
  }
  // Cut at the end of the file: no read, and no buffer for it, is larger than the file.
  if (length > item->head.size - offset) length = uint32_t(item->head.size - offset);
  if (!verify) {
    ++item->row.requests;
    item->row.uploaded += length;
    item->meter.add(length, GetTickCount());
  }
  // The read holds its own reference: pausing or deleting the share meanwhile
  // cancels it but never closes the handle under it.
  shared_file* file = item->file;
  file->acquire();
  file_cache_manager* cache = cache_;
  unlock();
  const int result = verify ? cache->read_uncached(file, fid, offset, length, done, user1, user2)
                            : cache->read_cached(file, fid, offset, length, done, user1, user2);
  file->release();
  return result;
}

}  // namespace p2p
