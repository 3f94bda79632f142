// Whole-file and sampled id computation over an IByteSource.
#include "server/hash/codec/file_ids.h"

#include <cstring>

#include "server/hash/codec/piece_size.h"

bool ComputeFileIds(IByteSource& source, uint64_t size, FileIds* ids) {
  if (ids == nullptr || size == 0) return false;
  CMd5PieceHash md5;
  CSha1PieceHash sha1;
  if (!md5.Init(size, GetMd5PieceSize(size), 16)) return false;
  if (!sha1.Init(size, GetSha1PieceSize(size), 20)) return false;
  std::vector<uint8_t> block(kHashReadBlock);
  uint64_t done = 0;
  while (done < size) {
    uint64_t left = size - done;
    size_t want = left < kHashReadBlock ? static_cast<size_t>(left) : kHashReadBlock;
    size_t got = source.ReadAt(done, block.data(), want);
    if (got != want) return false;
    md5.Update(block.data(), got);
    sha1.Update(block.data(), got);
    done += got;
  }
  md5.Final(&ids->fid, &ids->sid, &ids->pieceDigests);
  sha1.Final(&ids->cid, nullptr, nullptr);
  return ComputeQuickHash(source, size, &ids->qid);
}

bool ComputeQuickHash(IByteSource& source, uint64_t size, DigestHolder* qid) {
  if (qid == nullptr || size == 0) return false;
  std::vector<uint8_t> buf;
  if (size <= kQuickHashWholeLimit) {
    buf.resize(static_cast<size_t>(size));
    if (source.ReadAt(0, buf.data(), buf.size()) != buf.size()) return false;
  } else {
    buf.resize(3 * kQuickHashSample);
    const uint64_t offsets[3] = {0, size / 3, size - kQuickHashSample};
    for (int i = 0; i < 3; ++i) {
      if (source.ReadAt(offsets[i], buf.data() + i * kQuickHashSample, kQuickHashSample) != kQuickHashSample)
        return false;
    }
  }
  uint8_t out[20];
  Sha1Digest(out, buf.data(), buf.size());
  qid->Set(out, 20, 0);
  return true;
}

bool ComputeSampleId(IByteSource& source, uint64_t size, std::vector<uint8_t>& buffer,
                     uint8_t sid[16], uint8_t pieceDigests[48]) {
  const uint64_t piece = GetMd5PieceSize(size);
  const uint64_t n = GetPieceCount(size);
  if (n == 0) return false;
  if (buffer.size() < piece) buffer.resize(static_cast<size_t>(piece));
  uint8_t three[48];
  const uint64_t index[3] = {0, n / 2, n - 1};
  for (int i = 0; i < 3; ++i) {
    const uint64_t offset = index[i] * piece;
    const uint64_t left = size - offset;
    const size_t want = static_cast<size_t>(left < piece ? left : piece);
    size_t got = source.ReadAt(offset, buffer.data(), want);
    if (got == 0) return false;
    MD5Digest(buffer.data(), got, three + 16 * i);
  }
  MD5Digest(three, sizeof three, sid);
  if (pieceDigests) std::memcpy(pieceDigests, three, sizeof three);
  return true;
}
