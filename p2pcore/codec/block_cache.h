// The block cache of one share bucket, without its locks and disk reads:
// recently read file blocks of CacheBlockSize bytes kept in least-recently-used
// order up to a byte capacity, and the reads in flight that later requests for
// the same bytes join instead of reading again. The owner holds one lock around
// every call and runs the disk reads. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <vector>

namespace p2p {

// Error given to a request whose bytes a read did not deliver in full (the
// value of the system's end-of-file error).
inline constexpr uint32_t kShortReadError = 38;

struct file_key {
  uint8_t bytes[16];
  static file_key of(const uint8_t fid[16]) {
    file_key k;
    std::memcpy(k.bytes, fid, 16);
    return k;
  }
  bool operator<(const file_key& o) const { return std::memcmp(bytes, o.bytes, 16) < 0; }
  bool operator==(const file_key& o) const { return std::memcmp(bytes, o.bytes, 16) == 0; }
};

class block_cache {
 public:
  // A block size below 1024 is taken as 1024; a capacity below one block holds one block.
  block_cache(uint64_t capacity, uint32_t block_size);
  ~block_cache();
  block_cache(const block_cache&) = delete;
  block_cache& operator=(const block_cache&) = delete;

  uint32_t block_size() const { return block_size_; }
  uint64_t capacity() const { return capacity_; }

  // The disk read that serves a request: the whole block when the request lies
  // inside one block (stored when it completes), else exactly the request.
  struct read_plan {
    uint64_t offset = 0;
    uint32_t length = 0;
    bool whole_block = false;
  };
  read_plan plan(uint64_t offset, uint32_t length) const;

  // A cached block held in memory while its bytes are delivered outside the
  // owner's lock; eviction and dropping wait for its release.
  struct block;
  // The request's bytes when the block holding its start holds all of them,
  // the block pinned in *held; nullptr on a miss. Length 0 or above the block
  // size is a miss.
  const uint8_t* lookup(const file_key& key, uint64_t offset, uint32_t length, uint64_t now_ms, block** held);
  void release(block* b);

  // Reads in flight.
  struct read;
  // Joins a read in flight of this file whose range holds the request; false when none does.
  bool join(const file_key& key, uint64_t offset, uint32_t length, void* user);
  // Starts a read for the plan with its first request; nullptr when no buffer
  // can be had. Its buffer holds the plan's length: a read longer than a
  // block gets one of its own, counted with the read buffers against their
  // limit (5120 blocks).
  read* start(const file_key& key, const read_plan& plan, uint64_t offset, uint32_t length, void* user);
  uint8_t* buffer(read* r) const;
  uint64_t read_offset(read* r) const;
  uint32_t read_length(read* r) const;

  // What a completed read gives each of its requests.
  struct delivery {
    void* user = nullptr;
    const uint8_t* data = nullptr;  // valid until finish()
    uint32_t length = 0;            // the request's length
    uint32_t error = 0;             // the read's error, or kShortReadError
    bool first = false;             // the request that started the read
  };
  // Records the read's result: a whole-block read without error is stored
  // (unless its file was dropped meanwhile), and every request gets its bytes
  // or an error. Call finish() after the deliveries were consumed.
  std::vector<delivery> complete(read* r, uint32_t error, uint32_t bytes_read, uint64_t now_ms);
  void finish(read* r);

  // Forgets a file's blocks and frees their memory (its share was removed);
  // reads in flight for it store nothing when they complete. The bytes the
  // blocks held, and how many there were.
  uint64_t drop_file(const file_key& key, size_t* blocks = nullptr);

  struct counters {
    uint64_t hits = 0, hit_bytes = 0;
    uint64_t reads = 0, read_bytes = 0;  // disk reads started
    uint64_t joined = 0, joined_bytes = 0;
    uint64_t stored_total = 0;  // every stored block's length, since creation
    uint64_t evicted = 0;
  };
  const counters& stats() const { return stats_; }
  uint64_t stored_bytes() const { return stored_bytes_; }  // what the cached blocks hold now
  size_t cached_blocks() const;
  size_t blocks_allocated() const { return blocks_allocated_; }
  uint64_t read_buffer_bytes() const { return read_buffer_bytes_; }
  size_t reads_in_flight() const { return reads_.size(); }

 private:
  struct file_blocks {
    std::map<uint64_t, block*> by_index;
    uint64_t last_access = 0;
  };
  block* take_block(uint64_t now_ms);
  void unlink(block* b);
  void free_block(block* b);     // kept for the next read
  void discard_block(block* b);  // its memory given back
  uint8_t* take_read_buffer();
  void give_read_buffer(uint8_t* p);

  uint64_t capacity_;
  uint32_t block_size_;
  size_t max_blocks_;
  size_t blocks_allocated_ = 0;
  uint64_t stored_bytes_ = 0;
  std::map<file_key, file_blocks> files_;
  std::list<block*> lru_;  // front: most recently used
  std::vector<block*> free_blocks_;
  std::vector<block*> orphans_;  // dropped or replaced while pinned
  std::vector<uint8_t*> free_read_buffers_;
  uint64_t read_buffer_bytes_ = 0;
  uint64_t read_buffer_limit_;
  std::list<read*> reads_;
  counters stats_;
};

}  // namespace p2p
