// The four content ids of a file (fid, SID, cid, qid) computed from any source
// of its bytes, and the two cheap ones (SID from three pieces, qid from three
// samples). Platform-free; the Windows file source lives beside the callers.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "server/hash/codec/file_hash_pass.h"
#include "server/hash/codec/piece_hash.h"

// Random-access reader over one file's bytes.
class IByteSource {
 public:
  virtual ~IByteSource() = default;
  // Reads up to n bytes at offset; the number read (0 at the end or on error).
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
};

struct FileIds {
  DigestHolder fid, sid, cid, qid;
  std::vector<uint8_t> pieceDigests;  // MD5 piece digests, 16 bytes each, in piece order
};

constexpr uint64_t kQuickHashWholeLimit = 0xEFFF;
constexpr size_t kQuickHashSample = 20480;

// Reads the file once in kHashReadBlock blocks, its pieces digested by a pool
// of workers (RunHashPass), then the qid. false on a short read or a size of 0.
bool ComputeFileIds(IByteSource& source, uint64_t size, FileIds* ids, const HashPassOptions& options = {});
// The same ids from the one-thread pass (RunHashPassSequential).
bool ComputeFileIdsSequential(IByteSource& source, uint64_t size, FileIds* ids);
// qid: SHA-1 of the whole file up to kQuickHashWholeLimit bytes, else of the
// samples at 0, size/3 and size - kQuickHashSample. false on any short read or size 0.
bool ComputeQuickHash(IByteSource& source, uint64_t size, DigestHolder* qid);
// SID without hashing the whole file: MD5 of pieces 0, n/2 and n-1, each read
// whole (up to one piece size; at least one byte must arrive). The three piece
// digests go to pieceDigests (48 bytes) when given. buffer is reused between calls.
bool ComputeSampleId(IByteSource& source, uint64_t size, std::vector<uint8_t>& buffer,
                     uint8_t sid[16], uint8_t pieceDigests[48]);
