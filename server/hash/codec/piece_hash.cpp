// Piece hashers: one running digest, finished into the next slot of the digest
// array at each piece end, and the ids composed over the slots.
#include "server/hash/codec/piece_hash.h"

#include <cstring>
#include <new>

#include "server/hash/codec/piece_size.h"

void DigestHolder::Clear() {
  std::memset(digest, 0, sizeof digest);
  length = 0;
  pieceSize = 0;
}

void DigestHolder::Set(const uint8_t* bytes, uint32_t n, uint64_t piece) {
  Clear();
  if (n > sizeof digest) n = sizeof digest;
  std::memcpy(digest, bytes, n);
  length = n;
  pieceSize = piece;
}

template <class Algo>
bool CPieceHash<Algo>::Init(uint64_t size, uint64_t pieceSize, uint32_t digestLength) {
  size_ = size;
  pieceSize_ = pieceSize;
  fed_ = 0;
  writeSlot_ = 0;
  pieceOpen_ = false;
  overran_ = false;
  count_ = 0;
  digests_.clear();
  digestLength_ = Algo::kLength;
  algo_.Reset();
  if (digestLength != Algo::kLength) return false;
  pieceEnd_ = size < pieceSize ? size : pieceSize;
  if (pieceSize == 0) return true;
  count_ = PieceCountFor(size, pieceSize);
  // The count is at most a few thousand for any real size; a size that would
  // need an array beyond memory is refused rather than thrown about.
  if (count_ > SIZE_MAX / digestLength_) return false;
  try {
    digests_.assign(static_cast<size_t>(count_ * digestLength_), 0);
  } catch (const std::bad_alloc&) {
    count_ = 0;
    return false;
  }
  return true;
}

template <class Algo>
void CPieceHash<Algo>::FinishPiece() {
  if (writeSlot_ < count_) {
    algo_.Final(&digests_[static_cast<size_t>(writeSlot_ * digestLength_)]);
    ++writeSlot_;
  }
  algo_.Reset();
  pieceOpen_ = false;
}

template <class Algo>
void CPieceHash<Algo>::Update(const void* data, size_t length) {
  if (pieceSize_ == 0 || length == 0) {
    if (length != 0) overran_ = true;
    return;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (length > 0) {
    if (fed_ >= size_) {
      overran_ = true;
      return;
    }
    uint64_t room = pieceEnd_ - fed_;
    size_t take = length < room ? length : static_cast<size_t>(room);
    algo_.Update(p, take);
    pieceOpen_ = true;
    fed_ += take;
    p += take;
    length -= take;
    if (fed_ == pieceEnd_) {
      FinishPiece();
      uint64_t next = pieceEnd_ + pieceSize_;
      pieceEnd_ = next < size_ ? next : size_;
    }
  }
}

template <class Algo>
void CPieceHash<Algo>::HashPiece(const void* data, size_t length, uint8_t* out) {
  Algo a;
  a.Reset();
  a.Update(data, length);
  a.Final(out);
}

template <class Algo>
bool CPieceHash<Algo>::StorePieceDigest(uint64_t index, const uint8_t* digest) {
  if (index >= count_) return false;
  std::memcpy(&digests_[static_cast<size_t>(index * digestLength_)], digest, digestLength_);
  return true;
}

template <class Algo>
void CPieceHash<Algo>::Final(DigestHolder* whole, DigestHolder* sample, std::vector<uint8_t>* pieces) {
  // A file that ended early still gets its partial piece; the slots after it stay zero.
  if (fed_ < size_ && pieceOpen_) FinishPiece();
  FinalStored(whole, sample, pieces);
}

template <class Algo>
void CPieceHash<Algo>::FinalStored(DigestHolder* whole, DigestHolder* sample,
                                   std::vector<uint8_t>* pieces) const {
  const uint32_t L = digestLength_;
  uint8_t out[Algo::kLength];
  if (whole) {
    Algo a;
    a.Reset();
    if (!digests_.empty()) a.Update(digests_.data(), digests_.size());
    a.Final(out);
    whole->Set(out, L, pieceSize_);
  }
  if (sample) {
    sample->Clear();
    if (count_ > 0) {
      const uint8_t* d = digests_.data();
      Algo a;
      a.Reset();
      a.Update(d, L);
      a.Update(d + (count_ / 2) * L, L);
      a.Update(d + (count_ - 1) * L, L);
      a.Final(out);
      sample->Set(out, L, pieceSize_);
    }
  }
  if (pieces) *pieces = digests_;
}

template class CPieceHash<Md5Algo>;
template class CPieceHash<Sha1Algo>;

bool SampleIdFromDigests(const uint8_t* digests, uint64_t n, uint8_t sid[16]) {
  if (n == 0 || digests == nullptr) return false;
  MD5Context c;
  MD5Init(&c);
  MD5Update(&c, digests, 16);
  MD5Update(&c, digests + (n / 2) * 16, 16);
  MD5Update(&c, digests + (n - 1) * 16, 16);
  MD5Final(&c, sid);
  return true;
}

void FileIdFromDigests(const uint8_t* digests, uint64_t n, uint8_t fid[16]) {
  MD5Context c;
  MD5Init(&c);
  if (n != 0) MD5Update(&c, digests, static_cast<size_t>(n * 16));
  MD5Final(&c, fid);
}
