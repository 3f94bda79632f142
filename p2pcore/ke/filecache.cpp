// Block cache of a share bucket: lookups under the lock, disk reads outside it.
#include "p2pcore/ke/filecache.h"

#include <algorithm>
#include <ctime>
#include <new>
#include <vector>

#include "p2pcore/codec/texts.h"
#include "p2pcore/p2pbase/inc/p2plog.h"
#include "p2pcore/p2pbase/inc/scoped_lock.h"

namespace p2p {

namespace {
// Cache times: seconds since 1970 times 1000.
uint64_t now_ms() { return uint64_t(std::time(nullptr)) * 1000; }
constexpr uint32_t kNoBuffer = 0xFFFFFFFFu;  // the completion's error when no buffer could be had
}  // namespace

cache_geometry cache_geometry_of(const p2p_settings& s) {
  cache_geometry g;
  const int64_t kib = std::min<int64_t>(std::max<int64_t>(s.cache_block_size, 1), 16384);
  const int64_t mib = std::min<int64_t>(std::max<int64_t>(s.max_cache_size, 0), int64_t(1) << 20);
  g.block_size = uint32_t(kib) << 10;
  g.bucket_capacity = std::max<uint64_t>(uint64_t(mib) * 1048576 / 2, g.block_size);
  return g;
}

// One request waiting for a read: its completion and user words.
struct file_cache_manager::waiter {
  read_completion done;
  uintptr_t user1, user2;
};

file_cache_manager::file_cache_manager(uint64_t capacity, uint32_t block_size) : cache_(capacity, block_size) {
  InitializeCriticalSection(&lock_);
}

file_cache_manager::~file_cache_manager() { DeleteCriticalSection(&lock_); }

int file_cache_manager::read_cached(shared_file* file, const uint8_t fid[16], uint64_t offset, uint32_t length,
                                    read_completion done, uintptr_t user1, uintptr_t user2) {
  const file_key key = file_key::of(fid);
  EnterCriticalSection(&lock_);
  block_cache::block* held = nullptr;
  if (const uint8_t* data = cache_.lookup(key, offset, length, now_ms(), &held)) {
    LeaveCriticalSection(&lock_);
    // The block stays pinned, not locked, while its bytes are consumed.
    done(data, length, length, 0, 1, user1, user2);
    scoped_lock h(lock_);
    cache_.release(held);
    return int(length);
  }
  waiter* w = new (std::nothrow) waiter{done, user1, user2};
  if (!w) {
    LeaveCriticalSection(&lock_);
    done(nullptr, length, 0, kNoBuffer, 0, user1, user2);
    return -1;
  }
  if (cache_.join(key, offset, length, w)) {
    LeaveCriticalSection(&lock_);
    return 1;
  }
  return start_read(file, key, cache_.plan(offset, length), offset, length, w);
}

int file_cache_manager::read_uncached(shared_file* file, const uint8_t fid[16], uint64_t offset, uint32_t length,
                                      read_completion done, uintptr_t user1, uintptr_t user2) {
  waiter* w = new (std::nothrow) waiter{done, user1, user2};
  if (!w) {
    done(nullptr, length, 0, kNoBuffer, 0, user1, user2);
    return -1;
  }
  block_cache::read_plan plan;
  plan.offset = offset;
  plan.length = length;
  EnterCriticalSection(&lock_);
  return start_read(file, file_key::of(fid), plan, offset, length, w);
}

// Entered with the lock held; leaves it.
int file_cache_manager::start_read(shared_file* file, const file_key& key, const block_cache::read_plan& plan,
                                   uint64_t offset, uint32_t length, waiter* w) {
  block_cache::read* r = cache_.start(key, plan, offset, length, w);
  uint8_t* buffer = r ? cache_.buffer(r) : nullptr;
  LeaveCriticalSection(&lock_);
  if (!r) {
    w->done(nullptr, length, 0, kNoBuffer, 0, w->user1, w->user2);
    delete w;
    return -1;
  }
  if (!read_async_into(file, buffer, plan.length, plan.offset, on_disk, reinterpret_cast<uintptr_t>(this),
                       reinterpret_cast<uintptr_t>(r)))
    return -1;  // on_disk already delivered the error
  return 1;
}

void file_cache_manager::on_disk(const uint8_t*, uint32_t, uint32_t bytes_read, uint32_t error, int, uintptr_t self,
                                 uintptr_t read) {
  file_cache_manager* m = reinterpret_cast<file_cache_manager*>(self);
  block_cache::read* r = reinterpret_cast<block_cache::read*>(read);
  std::vector<block_cache::delivery> deliveries;
  {
    scoped_lock h(m->lock_);
    deliveries = m->cache_.complete(r, error, bytes_read, now_ms());
  }
  // Outside the lock: the buffer (or the stored block) stays ours until finish().
  for (const block_cache::delivery& d : deliveries) {
    waiter* w = static_cast<waiter*>(d.user);
    w->done(d.data, d.length, d.error ? 0 : bytes_read, d.error, d.first ? 0 : 1, w->user1, w->user2);
    delete w;
  }
  scoped_lock h(m->lock_);
  m->cache_.finish(r);
}

void file_cache_manager::drop_file(const uint8_t fid[16]) {
  size_t blocks = 0;
  uint64_t bytes;
  {
    scoped_lock h(lock_);
    bytes = cache_.drop_file(file_key::of(fid), &blocks);
  }
  if (blocks)
    P2P_LOG(9, "file_cache_manager::drop_file,[md5:%s],[blocks:%u],[bytes:%llu]", hash_hex(fid).c_str(),
            unsigned(blocks), (unsigned long long)bytes);
}

uint64_t file_cache_manager::stored_bytes() {
  scoped_lock h(lock_);
  return cache_.stored_bytes();
}

block_cache::counters file_cache_manager::stats() {
  scoped_lock h(lock_);
  return cache_.stats();
}

size_t file_cache_manager::blocks_allocated() {
  scoped_lock h(lock_);
  return cache_.blocks_allocated();
}

}  // namespace p2p
