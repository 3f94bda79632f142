// Hash records: round trip, every kind of damage rejected at its check, record
// file sizes judged on all 64 bits, and arbitrary bytes handled safely.
#include "server/hash/codec/hash_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "server/hash/codec/piece_size.h"

namespace {
constexpr uint64_t kFileSize = 70ull << 20;  // above the 64 MiB keep limit: 280 pieces of 256 KiB

std::vector<uint8_t> Digests(uint64_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(static_cast<size_t>(16 * n));
  for (auto& b : v) b = static_cast<uint8_t>(rng());
  return v;
}

const uint8_t kFid[16] = {0xF1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0x16};

std::vector<uint8_t> GoodRecord() {
  auto d = Digests(GetPieceCount(kFileSize), 7);
  return EncodeHashRecord(kFileSize, kFid, d.data(), d.size());
}
}  // namespace

TEST(HashRecord, RoundTrip) {
  const uint64_t n = GetPieceCount(kFileSize);
  const auto digests = Digests(n, 7);
  const auto rec = EncodeHashRecord(kFileSize, kFid, digests.data(), digests.size());
  ASSERT_EQ(rec.size(), 72 + 16 * n);
  EXPECT_EQ(rec[0], 1);  // version
  EXPECT_EQ(std::vector<uint8_t>(rec.begin() + 12, rec.begin() + 48), std::vector<uint8_t>(36, 0));
  HashRecordContents out;
  ASSERT_EQ(DecodeHashRecord(rec.data(), rec.size(), kFileSize, &out), HashRecordCheck::kOk);
  EXPECT_EQ(out.fileSize, kFileSize);
  EXPECT_EQ(0, std::memcmp(out.fid, kFid, 16));
  EXPECT_EQ(out.digests, digests);
}

TEST(HashRecord, DamageIsCaughtByItsCheck) {
  struct Row { const char* name; size_t offset; HashRecordCheck expect; };
  static const Row rows[] = {
      {"version", 0, HashRecordCheck::kBadHeader},
      {"check value", 4, HashRecordCheck::kBadBody},
      {"body length", 8, HashRecordCheck::kBadHeader},
      {"stored size", 48, HashRecordCheck::kBadBody},
      {"fid", 60, HashRecordCheck::kBadBody},
      {"first digest", 72, HashRecordCheck::kBadBody},
      {"last byte", 72 + 16 * 280 - 1, HashRecordCheck::kBadBody},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    auto rec = GoodRecord();
    ASSERT_LT(r.offset, rec.size());
    rec[r.offset] ^= 0x01;
    HashRecordContents out;
    EXPECT_EQ(DecodeHashRecord(rec.data(), rec.size(), kFileSize, &out), r.expect);
    EXPECT_TRUE(out.digests.empty());
  }
}

TEST(HashRecord, WrongLengthsAreRejected) {
  auto rec = GoodRecord();
  HashRecordContents out;
  EXPECT_EQ(DecodeHashRecord(rec.data(), rec.size() - 1, kFileSize, &out), HashRecordCheck::kBadHeader);
  EXPECT_EQ(DecodeHashRecord(rec.data(), rec.size(), kFileSize + 1, &out), HashRecordCheck::kSizeMismatch);
  EXPECT_EQ(out.fileSize, kFileSize);  // read out before the size check, as the store deletes by it
  // A valid record of the right size whose digests are for another piece count.
  auto shortDigests = Digests(GetPieceCount(kFileSize) - 1, 8);
  auto fewer = EncodeHashRecord(kFileSize, kFid, shortDigests.data(), shortDigests.size());
  EXPECT_EQ(DecodeHashRecord(fewer.data(), fewer.size(), kFileSize, &out), HashRecordCheck::kBadPieceCount);
  // A body too short for the size and fid, with a matching CRC.
  std::vector<uint8_t> tiny(48 + 8, 0);
  tiny[0] = 1;
  tiny[8] = 8;
  EXPECT_EQ(DecodeHashRecord(tiny.data(), tiny.size(), 0, &out), HashRecordCheck::kBadBody);
  EXPECT_EQ(DecodeHashRecord(nullptr, 100, kFileSize, &out), HashRecordCheck::kBadFileSize);
}

TEST(HashRecord, RecordFileSizeUsesAllSixtyFourBits) {
  struct Row { const char* name; uint64_t size; bool ok; };
  static const Row rows[] = {
      {"empty", 0, false},
      {"header only", 48, false},
      {"one body byte", 49, true},
      {"largest", 0x10000000, true},
      {"one above largest", 0x10000001, false},
      {"4 GiB + 100: low word looks small", 0x100000064ull, false},
      {"4 GiB + 72", 0x100000048ull, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(HashRecordFileSizeOk(r.size), r.ok);
  }
  // Too small is refused without reading the bytes.
  uint8_t header[48] = {1};
  EXPECT_EQ(DecodeHashRecord(header, 48, 0, nullptr), HashRecordCheck::kBadFileSize);
}

TEST(HashRecord, EncodeRefusesPartialDigests) {
  uint8_t d[17] = {};
  EXPECT_TRUE(EncodeHashRecord(100, kFid, d, 17).empty());
  EXPECT_TRUE(EncodeHashRecord(100, nullptr, d, 16).empty());
  EXPECT_FALSE(EncodeHashRecord(100, kFid, d, 16).empty());
}

TEST(HashRecord, ArbitraryBytesAreSafe) {
  std::mt19937 rng(11);
  const auto good = GoodRecord();
  for (int i = 0; i < 2000; ++i) {
    std::vector<uint8_t> buf;
    if (i % 2 == 0) {
      buf.resize(rng() % 400);
      for (auto& b : buf) b = static_cast<uint8_t>(rng());
    } else {
      // A good record cut short or with a random length field.
      buf.assign(good.begin(), good.begin() + 49 + rng() % (good.size() - 49));
      const uint32_t len = rng();
      std::memcpy(&buf[8], &len, 4);
    }
    HashRecordContents out;
    (void)DecodeHashRecord(buf.data(), buf.size(), kFileSize, &out);
  }
}
