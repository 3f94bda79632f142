// Piece hashers: ids independent of how the bytes are cut into blocks, the
// SID of one-piece files, and files that grow or shrink while they are hashed.
#include "server/hash/codec/piece_hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "server/hash/codec/piece_size.h"

namespace {
std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

struct Md5Ids { DigestHolder fid, sid; std::vector<uint8_t> pieces; };

Md5Ids HashInBlocks(const std::vector<uint8_t>& data, uint64_t size, uint64_t piece, size_t block) {
  CMd5PieceHash h;
  EXPECT_TRUE(h.Init(size, piece, 16));
  for (size_t off = 0; off < data.size(); off += block)
    h.Update(data.data() + off, std::min(block, data.size() - off));
  Md5Ids ids;
  h.Final(&ids.fid, &ids.sid, &ids.pieces);
  return ids;
}

std::vector<uint8_t> PieceDigestsOf(const std::vector<uint8_t>& data, size_t piece) {
  std::vector<uint8_t> out;
  for (size_t off = 0; off < data.size(); off += piece) {
    uint8_t d[16];
    MD5Digest(data.data() + off, std::min(piece, data.size() - off), d);
    out.insert(out.end(), d, d + 16);
  }
  return out;
}
}  // namespace

TEST(PieceHash, IdsDoNotDependOnBlockSize) {
  const auto data = Bytes(200000, 1);
  const uint64_t piece = 65536;
  const auto pieces = PieceDigestsOf(data, piece);
  ASSERT_EQ(pieces.size(), 4u * 16);
  uint8_t fid[16], sid[16];
  FileIdFromDigests(pieces.data(), 4, fid);
  ASSERT_TRUE(SampleIdFromDigests(pieces.data(), 4, sid));
  for (size_t block : {size_t{1}, size_t{7}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{200000}}) {
    SCOPED_TRACE(testing::Message() << "block " << block);
    Md5Ids ids = HashInBlocks(data, data.size(), piece, block);
    EXPECT_EQ(ids.pieces, pieces);
    EXPECT_EQ(0, std::memcmp(ids.fid.digest, fid, 16));
    EXPECT_EQ(0, std::memcmp(ids.sid.digest, sid, 16));
    EXPECT_EQ(ids.fid.length, 16u);
    EXPECT_EQ(ids.fid.pieceSize, piece);
  }
}

TEST(PieceHash, OnePieceSampleIdRepeatsTheDigest) {
  const auto data = Bytes(1000, 2);
  Md5Ids ids = HashInBlocks(data, data.size(), GetMd5PieceSize(data.size()), 300);
  uint8_t d[16], three[48], sid[16];
  MD5Digest(data.data(), data.size(), d);
  for (int i = 0; i < 3; ++i) std::memcpy(three + 16 * i, d, 16);
  MD5Digest(three, 48, sid);
  EXPECT_EQ(0, std::memcmp(ids.sid.digest, sid, 16));
}

TEST(PieceHash, EachHasherSizesItsArrayFromItsOwnPieceSize) {
  // 1 MiB: 16 MD5 pieces of 64 KiB but 64 SHA-1 pieces of 16 KiB.
  const uint64_t size = 1 << 20;
  CMd5PieceHash md5;
  CSha1PieceHash sha1;
  ASSERT_TRUE(md5.Init(size, GetMd5PieceSize(size), 16));
  ASSERT_TRUE(sha1.Init(size, GetSha1PieceSize(size), 20));
  EXPECT_EQ(md5.PieceCount(), 16u);
  EXPECT_EQ(md5.Digests().size(), 16u * 16);
  EXPECT_EQ(sha1.PieceCount(), 64u);
  EXPECT_EQ(sha1.Digests().size(), 64u * 20);
  const auto data = Bytes(size, 3);
  sha1.Update(data.data(), data.size());
  DigestHolder cid;
  sha1.Final(&cid, nullptr, nullptr);
  // The last slot was written: every SHA-1 piece got its digest.
  const auto& d = sha1.Digests();
  uint8_t last[20];
  Sha1Digest(last, data.data() + size - 16384, 16384);
  EXPECT_EQ(0, std::memcmp(&d[63 * 20], last, 20));
  EXPECT_EQ(cid.length, 20u);
  EXPECT_EQ(cid.pieceSize, 16384u);
}

TEST(PieceHash, WrongDigestLengthIsRefused) {
  CMd5PieceHash md5;
  CSha1PieceHash sha1;
  EXPECT_FALSE(md5.Init(100, 64, 20));
  EXPECT_FALSE(sha1.Init(100, 64, 16));
}

TEST(PieceHash, FileThatGrowsIsHashedOnlyUpToItsSize) {
  const auto data = Bytes(300000, 4);
  const uint64_t size = 100000, piece = 65536;
  struct Row { const char* name; size_t block; };
  static const Row rows[] = {{"one block", 300000}, {"odd blocks", 4099}, {"piece blocks", 65536}};
  const Md5Ids expect = HashInBlocks(std::vector<uint8_t>(data.begin(), data.begin() + size), size, piece, 1000);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CMd5PieceHash h;
    ASSERT_TRUE(h.Init(size, piece, 16));
    for (size_t off = 0; off < data.size(); off += r.block)
      h.Update(data.data() + off, std::min(r.block, data.size() - off));
    EXPECT_TRUE(h.Overran());
    EXPECT_EQ(h.BytesFed(), size);
    Md5Ids ids;
    h.Final(&ids.fid, &ids.sid, &ids.pieces);
    EXPECT_EQ(ids.pieces, expect.pieces);
    EXPECT_EQ(0, std::memcmp(ids.fid.digest, expect.fid.digest, 16));
  }
}

TEST(PieceHash, FileThatShrankFinishesItsPartialPiece) {
  const auto data = Bytes(70000, 5);  // fed 70000 of 200000 announced bytes
  CMd5PieceHash h;
  ASSERT_TRUE(h.Init(200000, 65536, 16));
  h.Update(data.data(), data.size());
  Md5Ids ids;
  h.Final(&ids.fid, &ids.sid, &ids.pieces);
  ASSERT_EQ(ids.pieces.size(), 4u * 16);
  EXPECT_EQ(std::vector<uint8_t>(ids.pieces.begin(), ids.pieces.begin() + 32), PieceDigestsOf(data, 65536));
  EXPECT_EQ(std::vector<uint8_t>(ids.pieces.begin() + 32, ids.pieces.end()), std::vector<uint8_t>(32, 0));
}

TEST(PieceHash, EmptyFileHasNoPieces) {
  CMd5PieceHash h;
  ASSERT_TRUE(h.Init(0, 0, 16));
  uint8_t b = 1;
  h.Update(&b, 1);
  Md5Ids ids;
  h.Final(&ids.fid, &ids.sid, &ids.pieces);
  EXPECT_TRUE(ids.pieces.empty());
  EXPECT_EQ(ids.sid.length, 0u);
  uint8_t empty[16];
  MD5Digest("", 0, empty);
  EXPECT_EQ(0, std::memcmp(ids.fid.digest, empty, 16));
}

TEST(PieceHash, StoredPiecesComposeLikeStreamedOnes) {
  const auto data = Bytes(5 * 16384 + 17, 6);
  const uint64_t piece = 16384;
  CSha1PieceHash streamed, stored;
  ASSERT_TRUE(streamed.Init(data.size(), piece, 20));
  ASSERT_TRUE(stored.Init(data.size(), piece, 20));
  streamed.Update(data.data(), data.size());
  // Pieces in reverse order, as a pool of workers might finish them.
  for (uint64_t k = stored.PieceCount(); k-- > 0;) {
    uint8_t d[20];
    const size_t off = static_cast<size_t>(k * piece);
    CSha1PieceHash::HashPiece(data.data() + off, std::min<size_t>(piece, data.size() - off), d);
    EXPECT_TRUE(stored.StorePieceDigest(k, d));
  }
  uint8_t d[20] = {};
  EXPECT_FALSE(stored.StorePieceDigest(stored.PieceCount(), d));
  DigestHolder a, b;
  streamed.Final(&a, nullptr, nullptr);
  stored.FinalStored(&b, nullptr, nullptr);
  EXPECT_EQ(0, std::memcmp(a.digest, b.digest, 20));
}
