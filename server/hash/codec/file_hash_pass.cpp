// The hashing pass on a pool of workers. The file is cut into lanes: runs of
// whole pieces of both kinds, at least one read block long (all the sizes are
// powers of two, so a lane of the largest of them holds whole pieces of each).
// A lane's blocks must be digested in order, so a lane goes to one worker at a
// time; different lanes go to different workers at once. Blocks come from a
// bounded set of buffers, so the reader never runs far ahead of the workers.
#include "server/hash/codec/file_hash_pass.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "server/hash/codec/piece_size.h"

namespace {

struct PieceLayout {
  uint64_t size = 0;
  uint64_t md5Piece = 0;   // 0 without the MD5 side
  uint64_t sha1Piece = 0;
  uint64_t lane = 0;       // a multiple of every piece size and of kHashReadBlock
};

bool IsPowerOfTwo(uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

PieceLayout LayoutFor(uint64_t size, bool withMd5, const HashPassOptions& options) {
  PieceLayout l;
  l.size = size;
  l.md5Piece = withMd5 ? (options.md5PieceSize ? options.md5PieceSize : GetMd5PieceSize(size)) : 0;
  l.sha1Piece = options.sha1PieceSize ? options.sha1PieceSize : GetSha1PieceSize(size);
  // Piece sizes that are not powers of two (only a test asks for them) leave
  // no common lane; such a pass runs on the calling thread.
  if ((withMd5 && !IsPowerOfTwo(l.md5Piece)) || !IsPowerOfTwo(l.sha1Piece)) return l;
  l.lane = std::max<uint64_t>({kHashReadBlock, l.md5Piece, l.sha1Piece});
  return l;
}

// The end of the piece or lane of `unit` bytes that holds offset, never past size.
uint64_t UnitEnd(uint64_t offset, uint64_t unit, uint64_t size) {
  const uint64_t start = offset - offset % unit;
  return unit >= size - start ? size : start + unit;
}

// Feeds bytes at offset into a running digest that started at a piece
// boundary, finishing a piece digest into its slot at each piece end.
template <class Algo>
void FeedPieces(Algo& algo, CPieceHash<Algo>& slots, uint64_t pieceSize, uint64_t size, uint64_t offset,
                const uint8_t* p, size_t n) {
  while (n > 0) {
    const uint64_t end = UnitEnd(offset, pieceSize, size);
    const size_t take = size_t(std::min<uint64_t>(n, end - offset));
    algo.Update(p, take);
    offset += take;
    p += take;
    n -= take;
    if (offset == end) {
      uint8_t digest[Algo::kLength];
      algo.Final(digest);
      slots.StorePieceDigest((offset - 1) / pieceSize, digest);
      algo.Reset();
    }
  }
}

struct Block {
  std::unique_ptr<uint8_t[]> data{new uint8_t[kHashReadBlock]};
  uint64_t offset = 0;
  size_t length = 0;
};

struct Lane {
  uint64_t end = 0;             // where its bytes end in the file
  std::deque<Block*> pending;   // read, not yet digested, in file order
  bool scheduled = false;       // in the ready queue or with a worker
  Md5Algo md5;
  Sha1Algo sha1;
};

class PooledPass {
 public:
  PooledPass(const PieceLayout& layout, size_t maxBlocks)
      : layout_(layout), maxBlocks_(maxBlocks), wakeAt_(std::max<size_t>(1, maxBlocks / 4)) {}
  PooledPass(const PooledPass&) = delete;
  PooledPass& operator=(const PooledPass&) = delete;
  ~PooledPass() { Close(); }

  // Sizes the digest slots and starts up to `workers` threads; false when
  // the slots cannot be had or not one thread starts.
  bool Start(unsigned workers) {
    if (layout_.md5Piece && !md5Slots_.Init(layout_.size, layout_.md5Piece, CMd5PieceHash::kDigestLength))
      return false;
    if (!sha1Slots_.Init(layout_.size, layout_.sha1Piece, CSha1PieceHash::kDigestLength)) return false;
    try {
      threads_.reserve(workers);
      for (unsigned i = 0; i < workers; ++i) threads_.emplace_back([this] { WorkerMain(); });
    } catch (const std::exception&) {
      // Fewer threads than asked for still finish the pass.
    }
    return !threads_.empty();
  }

  // Reads every block through reader; false as soon as it fails.
  bool Run(IBlockReader& reader) {
    for (uint64_t offset = 0; offset < layout_.size;) {
      const size_t want = size_t(std::min<uint64_t>(kHashReadBlock, layout_.size - offset));
      Block* block = Acquire();
      if (!reader.ReadBlock(offset, block->data.get(), want)) {
        abandoned_.store(true, std::memory_order_relaxed);
        return false;
      }
      block->offset = offset;
      block->length = want;
      Submit(block);
      offset += want;
    }
    return true;
  }

  // After a successful Run: waits for every lane and composes the ids.
  void Finish(HashPassResult* out) {
    Close();
    if (layout_.md5Piece) md5Slots_.FinalStored(&out->fid, &out->sid, &out->pieceDigests);
    sha1Slots_.FinalStored(&out->cid, nullptr, nullptr);
  }

 private:
  // Lets the workers run out of work and end. After a failed Run they skip
  // the digesting and only hand the blocks back.
  void Close() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      closing_ = true;
    }
    work_.notify_all();
    for (auto& t : threads_) t.join();
    threads_.clear();
  }

  Block* Acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (free_.empty() && blocks_.size() < maxBlocks_) {
      blocks_.push_back(std::make_unique<Block>());
      return blocks_.back().get();
    }
    if (free_.empty()) {
      // Woken once a few blocks are back rather than for each one: every
      // wake-up costs the workers a system call and the reader a switch.
      readerWaiting_ = true;
      space_.wait(lock, [this] { return free_.size() >= wakeAt_; });
      readerWaiting_ = false;
    }
    Block* block = free_.back();
    free_.pop_back();
    return block;
  }

  void Submit(Block* block) {
    bool wake = false;
    {
      std::lock_guard<std::mutex> guard(mutex_);
      if (current_ == nullptr) {
        lanes_.push_back(std::make_unique<Lane>());
        current_ = lanes_.back().get();
        current_->end = UnitEnd(block->offset, layout_.lane, layout_.size);
        current_->md5.Reset();
        current_->sha1.Reset();
      }
      Lane* lane = current_;
      lane->pending.push_back(block);
      if (!lane->scheduled) {
        lane->scheduled = true;
        ready_.push_back(lane);
        wake = idle_ > 0;
      }
      // The lane's last block: from here on only its worker touches it.
      if (block->offset + block->length == lane->end) current_ = nullptr;
    }
    if (wake) work_.notify_one();
  }

  void Digest(Lane* lane, const Block* block) {
    if (layout_.md5Piece)
      FeedPieces(lane->md5, md5Slots_, layout_.md5Piece, layout_.size, block->offset, block->data.get(), block->length);
    FeedPieces(lane->sha1, sha1Slots_, layout_.sha1Piece, layout_.size, block->offset, block->data.get(),
               block->length);
  }

  void WorkerMain() {
    std::deque<Block*> batch;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (ready_.empty()) {
        if (closing_) return;
        ++idle_;
        work_.wait(lock, [this] { return !ready_.empty() || closing_; });
        --idle_;
        continue;
      }
      Lane* lane = ready_.front();
      ready_.pop_front();
      batch.swap(lane->pending);
      lock.unlock();
      bool ended = false;
      for (Block* block : batch) {
        if (!abandoned_.load(std::memory_order_relaxed)) Digest(lane, block);
        ended = block->offset + block->length == lane->end;
        // Each block goes back as soon as it is digested, so the reader is
        // held up by no more than the blocks not yet digested.
        std::lock_guard<std::mutex> guard(mutex_);
        free_.push_back(block);
        if (readerWaiting_ && free_.size() == wakeAt_) space_.notify_one();
      }
      batch.clear();
      lock.lock();
      if (!lane->pending.empty()) {
        ready_.push_back(lane);
      } else {
        lane->scheduled = false;
        if (ended) Retire(lane);
      }
    }
  }

  // With the lock held: a lane whose last block is digested goes.
  void Retire(Lane* lane) {
    auto it = std::find_if(lanes_.begin(), lanes_.end(), [lane](const auto& l) { return l.get() == lane; });
    if (it != lanes_.end()) lanes_.erase(it);
  }

  const PieceLayout layout_;
  const size_t maxBlocks_;
  const size_t wakeAt_;  // free blocks that wake a waiting reader
  CMd5PieceHash md5Slots_;   // digests stored by index by the workers
  CSha1PieceHash sha1Slots_;
  std::vector<std::thread> threads_;

  std::mutex mutex_;
  std::condition_variable work_;   // a lane became ready, or the pass closes
  std::condition_variable space_;  // a block came back
  std::vector<std::unique_ptr<Block>> blocks_;
  std::vector<Block*> free_;
  std::deque<std::unique_ptr<Lane>> lanes_;  // open lanes, oldest first
  std::deque<Lane*> ready_;
  Lane* current_ = nullptr;  // the lane the reader is filling
  unsigned idle_ = 0;
  bool readerWaiting_ = false;
  bool closing_ = false;
  std::atomic<bool> abandoned_{false};
};

// The whole pass on the calling thread, through the streaming piece hashers.
bool StreamPass(const PieceLayout& layout, IBlockReader& reader, HashPassResult* out) {
  CMd5PieceHash md5;
  CSha1PieceHash sha1;
  if (layout.md5Piece && !md5.Init(layout.size, layout.md5Piece, CMd5PieceHash::kDigestLength)) return false;
  if (!sha1.Init(layout.size, layout.sha1Piece, CSha1PieceHash::kDigestLength)) return false;
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kHashReadBlock]);
  for (uint64_t offset = 0; offset < layout.size;) {
    const size_t want = size_t(std::min<uint64_t>(kHashReadBlock, layout.size - offset));
    if (!reader.ReadBlock(offset, buffer.get(), want)) return false;
    if (layout.md5Piece) md5.Update(buffer.get(), want);
    sha1.Update(buffer.get(), want);
    offset += want;
  }
  if (layout.md5Piece) md5.Final(&out->fid, &out->sid, &out->pieceDigests);
  sha1.Final(&out->cid, nullptr, nullptr);
  return true;
}

}  // namespace

unsigned ResolveHashWorkers(unsigned requested) {
  if (requested == 0) requested = std::thread::hardware_concurrency();
  return std::clamp(requested, 1u, kMaxHashWorkers);
}

bool RunHashPassSequential(uint64_t size, bool withMd5, IBlockReader& reader, const HashPassOptions& options,
                           HashPassResult* out) {
  if (out == nullptr) return false;
  HashPassResult result;
  if (!StreamPass(LayoutFor(size, withMd5, options), reader, &result)) return false;
  *out = std::move(result);
  return true;
}

bool RunHashPass(uint64_t size, bool withMd5, IBlockReader& reader, const HashPassOptions& options,
                 HashPassResult* out) {
  if (out == nullptr) return false;
  const PieceLayout layout = LayoutFor(size, withMd5, options);
  const uint64_t lanes = layout.lane ? PieceCountFor(size, layout.lane) : 0;
  const unsigned workers = unsigned(std::min<uint64_t>(ResolveHashWorkers(options.workers), lanes));
  // A single lane cannot be shared out: threads would only cost time.
  if (lanes < 2) return RunHashPassSequential(size, withMd5, reader, options, out);

  size_t window = options.windowBytes;
  if (window == 0) {
    // Every worker on a lane of its own, and the next lanes already coming in.
    const uint64_t want = (uint64_t(workers) + 2) * layout.lane;
    window = size_t(std::min<uint64_t>(want, kMaxHashWindow));
  }
  const size_t maxBlocks = std::max<size_t>(window / kHashReadBlock, 2);

  HashPassResult result;
  PooledPass pass(layout, maxBlocks);
  if (!pass.Start(workers)) return RunHashPassSequential(size, withMd5, reader, options, out);
  if (!pass.Run(reader)) return false;
  pass.Finish(&result);
  *out = std::move(result);
  return true;
}
