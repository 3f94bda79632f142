// The whole-file pass behind the fid, SID and cid: one reader takes the file
// in order in kHashReadBlock blocks, a pool of worker threads digests the
// pieces, and the ids are composed from the piece digests in piece order.
// Platform-free (std::thread), so the pool runs under the sanitizers too.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/hash/codec/piece_hash.h"

constexpr size_t kHashReadBlock = 0x40000;  // the publish task's read size
// More workers than this gain nothing: the one reader cannot feed them.
constexpr unsigned kMaxHashWorkers = 16;
// Blocks read ahead of the workers are bounded by this many bytes.
constexpr size_t kMaxHashWindow = size_t(64) << 20;

// Supplies the file's bytes to a pass, block after block in file order, on
// the thread that runs the pass.
class IBlockReader {
 public:
  virtual ~IBlockReader() = default;
  // Puts the `want` bytes at offset into buffer (kHashReadBlock bytes of
  // room; want is kHashReadBlock but for the last block). false ends the pass
  // as failed: a short read, a file that changed, a cancel.
  virtual bool ReadBlock(uint64_t offset, uint8_t* buffer, size_t want) = 0;
};

struct HashPassOptions {
  unsigned workers = 0;     // 0: one per core, at most kMaxHashWorkers
  size_t windowBytes = 0;   // read-ahead bound; 0: enough to keep every worker busy, at most kMaxHashWindow
  // Piece sizes; 0: the rules of the content ids for the size. Tests set
  // others to reach piece layouts of very large files with small ones.
  uint64_t md5PieceSize = 0;
  uint64_t sha1PieceSize = 0;
};

// What a pass yields: fid, SID and the MD5 piece digests (only when the pass
// ran the MD5 side), and the cid.
struct HashPassResult {
  DigestHolder fid, sid, cid;
  std::vector<uint8_t> pieceDigests;  // 16 bytes a piece, in piece order
};

// The worker count a pass would use with this request (0: the default).
unsigned ResolveHashWorkers(unsigned requested);

// One pass over size bytes: SHA-1 pieces always, MD5 pieces only
// withMd5. Blocks are read on the calling thread; pieces are digested on the
// workers, or on the calling thread when the file is too small to share out.
// false when the reader ended the pass; out is then left as it was.
bool RunHashPass(uint64_t size, bool withMd5, IBlockReader& reader, const HashPassOptions& options,
                 HashPassResult* out);
// The same pass on the calling thread alone through the streaming piece
// hashers: the reference the pool is held to.
bool RunHashPassSequential(uint64_t size, bool withMd5, IBlockReader& reader, const HashPassOptions& options,
                           HashPassResult* out);
