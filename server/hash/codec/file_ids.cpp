// Whole-file and sampled id computation over an IByteSource.
#include "server/hash/codec/file_ids.h"

#include <cstring>
#include <utility>

#include "server/hash/codec/piece_size.h"

namespace {
// Reads blocks from a byte source; any short read ends the pass.
class SourceBlockReader : public IBlockReader {
 public:
  explicit SourceBlockReader(IByteSource& source) : source_(source) {}
  bool ReadBlock(uint64_t offset, uint8_t* buffer, size_t want) override {
    return source_.ReadAt(offset, buffer, want) == want;
  }

 private:
  IByteSource& source_;
};

bool IdsFromPass(IByteSource& source, uint64_t size, FileIds* ids, bool pooled, const HashPassOptions& options) {
  if (ids == nullptr || size == 0) return false;
  SourceBlockReader reader(source);
  HashPassResult pass;
  const bool ok = pooled ? RunHashPass(size, true, reader, options, &pass)
                         : RunHashPassSequential(size, true, reader, options, &pass);
  if (!ok) return false;
  ids->fid = pass.fid;
  ids->sid = pass.sid;
  ids->cid = pass.cid;
  ids->pieceDigests = std::move(pass.pieceDigests);
  return ComputeQuickHash(source, size, &ids->qid);
}
}  // namespace

bool ComputeFileIds(IByteSource& source, uint64_t size, FileIds* ids, const HashPassOptions& options) {
  return IdsFromPass(source, size, ids, true, options);
}

bool ComputeFileIdsSequential(IByteSource& source, uint64_t size, FileIds* ids) {
  return IdsFromPass(source, size, ids, false, HashPassOptions{});
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
