// Piece hashers behind a file's content ids: the file is cut into pieces of a
// fixed size, each piece gets its own digest, and the ids are digests over
// those piece digests. Platform-free.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/codec/md5.h"
#include "foundation/codec/sha1.h"

// One id with what it was made from: up to 20 digest bytes, their length
// (16 or 20, 0 while empty) and the piece size behind them.
struct DigestHolder {
  uint8_t digest[20] = {};
  uint32_t length = 0;
  uint64_t pieceSize = 0;
  void Clear();
  void Set(const uint8_t* bytes, uint32_t n, uint64_t piece);
};

struct Md5Algo {
  static constexpr uint32_t kLength = 16;
  MD5Context ctx;
  void Reset() { MD5Init(&ctx); }
  void Update(const void* p, size_t n) { MD5Update(&ctx, p, n); }
  void Final(uint8_t* out) { MD5Final(&ctx, out); }
};

struct Sha1Algo {
  static constexpr uint32_t kLength = 20;
  CSha1 ctx;
  void Reset() { ctx.Reset(); }
  void Update(const void* p, size_t n) { ctx.Update(p, n); }
  void Final(uint8_t* out) { ctx.Final(out); }
};

// Feeds a file's bytes in order and keeps one digest per piece. The digest
// array is sized once from the size and this hasher's own piece size; bytes
// past the size given to Init (a file that grew while it was read) are not
// hashed and never reach past the array.
template <class Algo>
class CPieceHash {
 public:
  static constexpr uint32_t kDigestLength = Algo::kLength;

  // false when the digest length is not this hasher's, or the array cannot be had.
  bool Init(uint64_t size, uint64_t pieceSize, uint32_t digestLength);
  void Update(const void* data, size_t length);
  // whole: digest of all piece digests in order; sample (when given): digest of
  // pieces 0, n/2 and n-1; pieces (when given): all piece digests.
  void Final(DigestHolder* whole, DigestHolder* sample, std::vector<uint8_t>* pieces);

  // The per-piece form, for pieces hashed elsewhere (for instance on several
  // threads): each piece is digested on its own and stored by index, then
  // FinalStored composes the ids exactly as Final does.
  static void HashPiece(const void* data, size_t length, uint8_t* out);
  bool StorePieceDigest(uint64_t index, const uint8_t* digest);
  void FinalStored(DigestHolder* whole, DigestHolder* sample, std::vector<uint8_t>* pieces) const;

  uint64_t PieceCount() const { return count_; }
  uint64_t PieceSize() const { return pieceSize_; }
  uint64_t BytesFed() const { return fed_; }
  // true when more bytes were offered than the size given to Init.
  bool Overran() const { return overran_; }
  const std::vector<uint8_t>& Digests() const { return digests_; }

 private:
  void FinishPiece();

  Algo algo_;
  uint64_t size_ = 0;
  uint64_t pieceSize_ = 0;
  uint64_t pieceEnd_ = 0;
  uint64_t fed_ = 0;
  uint32_t digestLength_ = Algo::kLength;
  uint64_t count_ = 0;
  std::vector<uint8_t> digests_;
  uint64_t writeSlot_ = 0;
  bool pieceOpen_ = false;
  bool overran_ = false;
};

using CMd5PieceHash = CPieceHash<Md5Algo>;
using CSha1PieceHash = CPieceHash<Sha1Algo>;

extern template class CPieceHash<Md5Algo>;
extern template class CPieceHash<Sha1Algo>;

// SID from the MD5 piece digests (n x 16 bytes): MD5 of digest[0] | digest[n/2] | digest[n-1].
// false when n is 0.
bool SampleIdFromDigests(const uint8_t* digests, uint64_t n, uint8_t sid[16]);
// fid from the MD5 piece digests: MD5 of all n digests in order.
void FileIdFromDigests(const uint8_t* digests, uint64_t n, uint8_t fid[16]);
