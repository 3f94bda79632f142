// Block cache of a share bucket: stored blocks, eviction and joined reads.
#include "p2pcore/codec/block_cache.h"

#include <algorithm>
#include <new>

namespace p2p {

namespace {
// Read buffers kept for reuse; the rest go back to the system.
constexpr size_t kFreeReadBuffersKept = 16;
// Smallest page size of the machines the cache runs on.
constexpr uint32_t kPageBytes = 4096;
}  // namespace

struct block_cache::block {
  file_key key{};
  uint64_t index = 0;
  uint32_t length = 0;
  std::unique_ptr<uint8_t[]> data;
  uint64_t created = 0, last_use = 0;
  uint32_t hits = 0;
  uint64_t served = 0;
  int pins = 0;
  bool cached = false;  // in its file's map and in the LRU ring
  bool orphan = false;  // dropped while pinned: freed at its release
  std::list<block*>::iterator lru_pos;
};

struct block_cache::read {
  struct waiter {
    uint64_t offset;
    uint32_t length;
    void* user;
  };
  file_key key{};
  uint64_t offset = 0;
  uint32_t length = 0;
  bool whole_block = false;
  uint8_t* buffer = nullptr;
  bool own_buffer = false;     // a read longer than a block: its buffer is of its own length
  block* reserved = nullptr;   // the cache block the read fills
  block* published = nullptr;  // the same block once stored, pinned while delivering
  bool dropped = false;
  std::vector<waiter> waiters;
  std::list<read*>::iterator pos;
};

block_cache::block_cache(uint64_t capacity, uint32_t block_size)
    : capacity_(capacity),
      block_size_(std::max<uint32_t>(block_size, 1024)),
      max_blocks_(size_t(std::max<uint64_t>(1, capacity / std::max<uint32_t>(block_size, 1024)))),
      // 5120 blocks of read buffers at most, in 64 bits so no block size wraps it.
      read_buffer_limit_(uint64_t(5120) * std::max<uint32_t>(block_size, 1024)) {}

block_cache::~block_cache() {
  for (read* r : reads_) {
    if (!r->reserved && !r->published) delete[] r->buffer;  // a read buffer, pooled or its own
    if (r->reserved) delete r->reserved;
    if (r->published) r->published->orphan = true;
    delete r;
  }
  for (block* b : lru_) delete b;
  for (block* b : free_blocks_) delete b;
  for (block* b : orphans_) delete b;
  for (uint8_t* p : free_read_buffers_) delete[] p;
}

block_cache::read_plan block_cache::plan(uint64_t offset, uint32_t length) const {
  read_plan p;
  const uint64_t within = offset % block_size_;
  if (length <= block_size_ && within + length <= block_size_) {
    p.offset = offset - within;
    p.length = block_size_;
    p.whole_block = true;
  } else {
    p.offset = offset;
    p.length = length;
  }
  return p;
}

const uint8_t* block_cache::lookup(const file_key& key, uint64_t offset, uint32_t length, uint64_t now_ms,
                                   block** held) {
  *held = nullptr;
  if (length == 0 || length > block_size_) return nullptr;
  auto f = files_.find(key);
  if (f == files_.end()) return nullptr;
  auto b = f->second.by_index.find(offset / block_size_);
  if (b == f->second.by_index.end()) return nullptr;
  block* blk = b->second;
  const uint64_t within = offset % block_size_;
  if (blk->length < within + length) return nullptr;
  ++blk->pins;
  ++blk->hits;
  blk->served += length;
  blk->last_use = now_ms;
  f->second.last_access = now_ms;
  lru_.splice(lru_.begin(), lru_, blk->lru_pos);
  ++stats_.hits;
  stats_.hit_bytes += length;
  *held = blk;
  return blk->data.get() + within;
}

void block_cache::release(block* b) {
  if (!b || b->pins <= 0) return;
  if (--b->pins == 0 && b->orphan) {
    orphans_.erase(std::find(orphans_.begin(), orphans_.end(), b));
    discard_block(b);
  }
}

void block_cache::unlink(block* b) {
  auto f = files_.find(b->key);
  if (f != files_.end()) {
    f->second.by_index.erase(b->index);
    if (f->second.by_index.empty()) files_.erase(f);
  }
  lru_.erase(b->lru_pos);
  stored_bytes_ -= b->length;
  b->cached = false;
}

void block_cache::discard_block(block* b) {
  delete b;
  --blocks_allocated_;
}

void block_cache::free_block(block* b) {
  b->orphan = false;
  b->cached = false;
  b->length = 0;
  free_blocks_.push_back(b);
}

block_cache::block* block_cache::take_block(uint64_t) {
  if (!free_blocks_.empty()) {
    block* b = free_blocks_.back();
    free_blocks_.pop_back();
    return b;
  }
  if (blocks_allocated_ < max_blocks_) {
    std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[block_size_]);
    block* b = data ? new (std::nothrow) block : nullptr;
    if (!b) return nullptr;
    // The fresh pages are brought in here, one block at a time under the
    // cache's lock: readers faulting in fresh pages side by side contend in the
    // kernel, which cost a cold pass for eight peers five times the processor
    // time of one peer's.
    for (uint32_t at = 0; at < block_size_; at += kPageBytes) data[at] = 0;
    b->data = std::move(data);
    ++blocks_allocated_;
    return b;
  }
  // The least recently used block that nobody is reading from.
  for (auto it = lru_.rbegin(); it != lru_.rend(); ++it) {
    block* b = *it;
    if (b->pins) continue;
    unlink(b);
    ++stats_.evicted;
    return b;
  }
  return nullptr;
}

uint8_t* block_cache::take_read_buffer() {
  if (!free_read_buffers_.empty()) {
    uint8_t* p = free_read_buffers_.back();
    free_read_buffers_.pop_back();
    return p;
  }
  if (read_buffer_bytes_ + block_size_ > read_buffer_limit_) return nullptr;
  uint8_t* p = new (std::nothrow) uint8_t[block_size_];
  if (p) read_buffer_bytes_ += block_size_;
  return p;
}

void block_cache::give_read_buffer(uint8_t* p) {
  if (free_read_buffers_.size() < kFreeReadBuffersKept) {
    free_read_buffers_.push_back(p);
    return;
  }
  delete[] p;
  read_buffer_bytes_ -= block_size_;
}

bool block_cache::join(const file_key& key, uint64_t offset, uint32_t length, void* user) {
  if (length == 0) return false;
  for (read* r : reads_) {
    if (r->dropped || !(r->key == key)) continue;
    // [offset, offset + length) inside [r->offset, r->offset + r->length), without sums that could wrap.
    if (offset < r->offset || length > r->length || offset - r->offset > r->length - length) continue;
    r->waiters.push_back({offset, length, user});
    ++stats_.joined;
    stats_.joined_bytes += length;
    return true;
  }
  return false;
}

block_cache::read* block_cache::start(const file_key& key, const read_plan& plan, uint64_t offset, uint32_t length,
                                      void* user) {
  if (plan.length == 0 || length == 0 || (plan.whole_block && plan.length != block_size_)) return nullptr;
  read* r = new (std::nothrow) read;
  if (!r) return nullptr;
  r->key = key;
  r->offset = plan.offset;
  r->length = plan.length;
  r->whole_block = plan.whole_block;
  if (plan.whole_block) {
    r->reserved = take_block(0);
    if (r->reserved) r->buffer = r->reserved->data.get();
  }
  if (!r->buffer && plan.length > block_size_) {
    // Longer than a block (a verify range, a run of small blocks): read into
    // a buffer of its own, within the same limit as the pooled ones.
    if (read_buffer_bytes_ + plan.length <= read_buffer_limit_) {
      r->buffer = new (std::nothrow) uint8_t[plan.length];
      if (r->buffer) {
        r->own_buffer = true;
        read_buffer_bytes_ += plan.length;
      }
    }
  } else if (!r->buffer) {
    r->buffer = take_read_buffer();
  }
  if (!r->buffer) {
    delete r;
    return nullptr;
  }
  r->waiters.push_back({offset, length, user});
  reads_.push_back(r);
  r->pos = std::prev(reads_.end());
  ++stats_.reads;
  stats_.read_bytes += plan.length;
  return r;
}

uint8_t* block_cache::buffer(read* r) const { return r->buffer; }
uint64_t block_cache::read_offset(read* r) const { return r->offset; }
uint32_t block_cache::read_length(read* r) const { return r->length; }

std::vector<block_cache::delivery> block_cache::complete(read* r, uint32_t error, uint32_t bytes_read,
                                                         uint64_t now_ms) {
  bytes_read = std::min(bytes_read, r->length);
  if (r->reserved && error == 0 && bytes_read > 0 && !r->dropped) {
    file_blocks& f = files_[r->key];
    const uint64_t index = r->offset / block_size_;
    if (f.by_index.find(index) == f.by_index.end()) {
      block* b = r->reserved;
      r->reserved = nullptr;
      b->key = r->key;
      b->index = index;
      b->length = bytes_read;
      b->created = b->last_use = now_ms;
      b->hits = 0;
      b->served = 0;
      b->cached = true;
      f.by_index[index] = b;
      lru_.push_front(b);
      b->lru_pos = lru_.begin();
      stored_bytes_ += bytes_read;
      stats_.stored_total += bytes_read;
      ++b->pins;
      r->published = b;
    }
  }
  std::vector<delivery> out;
  out.reserve(r->waiters.size());
  for (size_t i = 0; i < r->waiters.size(); ++i) {
    const read::waiter& w = r->waiters[i];
    delivery d;
    d.user = w.user;
    d.length = w.length;
    d.first = i == 0;
    const uint64_t at = w.offset - r->offset;
    if (error != 0) {
      d.error = error;
    } else if (at + w.length > bytes_read) {
      d.error = kShortReadError;
    } else {
      d.data = r->buffer + at;
    }
    out.push_back(d);
  }
  return out;
}

void block_cache::finish(read* r) {
  if (r->published) {
    release(r->published);
  } else if (r->reserved) {
    free_block(r->reserved);
  } else if (r->own_buffer) {
    delete[] r->buffer;
    read_buffer_bytes_ -= r->length;
  } else {
    give_read_buffer(r->buffer);
  }
  reads_.erase(r->pos);
  delete r;
}

uint64_t block_cache::drop_file(const file_key& key, size_t* count) {
  uint64_t bytes = 0;
  size_t dropped = 0;
  auto f = files_.find(key);
  if (f != files_.end()) {
    std::vector<block*> blocks;
    for (auto& [index, b] : f->second.by_index) blocks.push_back(b);
    for (block* b : blocks) {
      bytes += b->length;
      ++dropped;
      unlink(b);
      if (b->pins) {
        b->orphan = true;
        orphans_.push_back(b);
      } else {
        discard_block(b);
      }
    }
  }
  for (read* r : reads_)
    if (r->key == key) r->dropped = true;
  if (count) *count = dropped;
  return bytes;
}

size_t block_cache::cached_blocks() const { return lru_.size(); }

}  // namespace p2p
