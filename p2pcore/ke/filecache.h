// The block cache of a share bucket (file_cache_manager): every block and
// verify read of the bucket's shared files goes through it, from memory when
// the block is cached, else by ReadFileEx on the calling upload worker, whose
// alertable wait runs the completion for every request that joined the read.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>

#include "p2pcore/codec/block_cache.h"
#include "p2pcore/codec/settings_values.h"
#include "p2pcore/p2pbase/inc/winutil.h"

namespace p2p {

// Each bucket's cache: half of MaxCacheSize MiB, blocks of CacheBlockSize KiB.
// Block sizes are held to 1 KiB .. 16 MiB so that no setting overflows a read.
struct cache_geometry {
  uint64_t bucket_capacity;
  uint32_t block_size;
};
cache_geometry cache_geometry_of(const p2p_settings& s);

class file_cache_manager {
 public:
  file_cache_manager(uint64_t capacity, uint32_t block_size);
  ~file_cache_manager();
  file_cache_manager(const file_cache_manager&) = delete;
  file_cache_manager& operator=(const file_cache_manager&) = delete;

  uint32_t block_size() const { return cache_.block_size(); }
  uint64_t capacity() const { return cache_.capacity(); }

  // Block data: the length when served from memory (the completion already
  // ran), 1 when a read was started or joined, -1 when it failed (the
  // completion ran with an error). A read longer than a block is read whole
  // into a buffer of its own and not stored.
  int read_cached(shared_file* file, const uint8_t fid[16], uint64_t offset, uint32_t length, read_completion done,
                  uintptr_t user1, uintptr_t user2);
  // Verify data: always from the file, exactly the request, into a buffer of its length.
  int read_uncached(shared_file* file, const uint8_t fid[16], uint64_t offset, uint32_t length, read_completion done,
                    uintptr_t user1, uintptr_t user2);
  // A removed share: its blocks are freed, its reads in flight store nothing.
  void drop_file(const uint8_t fid[16]);

  uint64_t stored_bytes();
  block_cache::counters stats();
  size_t blocks_allocated();

 private:
  struct waiter;
  int start_read(shared_file* file, const file_key& key, const block_cache::read_plan& plan, uint64_t offset,
                 uint32_t length, waiter* w);
  static void on_disk(const uint8_t* data, uint32_t requested, uint32_t bytes_read, uint32_t error, int shared,
                      uintptr_t self, uintptr_t read);

  CRITICAL_SECTION lock_;
  block_cache cache_;
};

}  // namespace p2p
