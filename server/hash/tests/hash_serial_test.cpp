// The hash-record store on disk: records found again for the same file, lost
// for changed ones, damaged or badly sized records ignored, small files not kept;
// and the qid of a file on disk.
#include "server/hash/hash_serial.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "foundation/util/file_ops.h"
#include "foundation/util/path_ops.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/codec/piece_size.h"
#include "server/hash/file_source.h"
#include "server/hash/quick_hash.h"

namespace {
class HashSerialTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    dir_ = std::wstring(tmp) + L"orchard_hash_serial_" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir_.c_str(), nullptr);
    store_ = CHashSerial::GetInstance();
    store_->SetDataDir(dir_);
  }
  void TearDown() override {
    CHashSerial::FreeInstance();
    RemoveDirectoryTree(dir_.c_str());
  }
  std::wstring WriteFileOf(const wchar_t* name, uint64_t size, uint32_t seed) {
    std::wstring p = dir_ + L"\\" + name;
    HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    std::mt19937 rng(seed);
    std::vector<uint8_t> block(1 << 20);
    for (uint64_t done = 0; done < size;) {
      for (auto& b : block) b = static_cast<uint8_t>(rng());
      DWORD n = static_cast<DWORD>(std::min<uint64_t>(block.size(), size - done)), w = 0;
      WriteFile(h, block.data(), n, &w, nullptr);
      done += n;
    }
    CloseHandle(h);
    return p;
  }
  static void Poke(const std::wstring& p, uint64_t offset) {
    HANDLE h = CreateFileW(p.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    uint8_t b = 0;
    DWORD n = 0;
    ReadFile(h, &b, 1, &n, nullptr);
    b ^= 0x5A;
    SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    WriteFile(h, &b, 1, &n, nullptr);
    CloseHandle(h);
  }
  // Hashes the file and stores its record, as the publish task does.
  FileIds HashAndSave(const std::wstring& p, uint64_t size) {
    CFileByteSource f;
    EXPECT_TRUE(f.Open(p.c_str()));
    FileIds ids;
    EXPECT_TRUE(ComputeFileIds(f, size, &ids));
    EXPECT_EQ(store_->Save(size, ids.sid.digest, ids.fid.digest, ids.pieceDigests), 1);
    return ids;
  }
  bool RecordExists(const uint8_t sid[16]) {
    return GetFileAttributesW(store_->RecordPath(sid).c_str()) != INVALID_FILE_ATTRIBUTES;
  }

  std::wstring dir_;
  CHashSerial* store_ = nullptr;
};

constexpr uint64_t kKept = (64ull << 20) + 1;  // smallest size whose record is kept: 513 pieces of 128 KiB
}  // namespace

TEST_F(HashSerialTest, RecordPathIsNamedBySid) {
  const uint8_t sid[16] = {0xAB, 0xCD, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xFF};
  EXPECT_EQ(store_->RecordPath(sid), dir_ + L"\\HashSerial\\ABC\\ABCDEF0102030405060708090A0B0CFF");
}

TEST_F(HashSerialTest, SavedRecordLoadsForTheSameFile) {
  const std::wstring p = WriteFileOf(L"big.bin", kKept, 1);
  const FileIds ids = HashAndSave(p, kKept);
  uint8_t sid[16], fid[16];
  std::vector<uint8_t> digests;
  ASSERT_EQ(store_->Load(p.c_str(), kKept, sid, fid, &digests), 1);
  EXPECT_EQ(0, std::memcmp(sid, ids.sid.digest, 16));
  EXPECT_EQ(0, std::memcmp(fid, ids.fid.digest, 16));
  EXPECT_EQ(digests, ids.pieceDigests);
  // The report thread's read-back needs no media file.
  std::vector<uint8_t> again;
  EXPECT_EQ(store_->LoadDigests(ids.sid.digest, ids.fid.digest, kKept, &again), 1);
  EXPECT_EQ(again, ids.pieceDigests);
  uint8_t otherFid[16];
  std::memcpy(otherFid, ids.fid.digest, 16);
  otherFid[3] ^= 1;
  EXPECT_EQ(store_->LoadDigests(ids.sid.digest, otherFid, kKept, &again), 0);
  EXPECT_EQ(store_->LoadDigests(ids.sid.digest, ids.fid.digest, kKept + 1, &again), 0);
}

TEST_F(HashSerialTest, ChangesToTheFile) {
  struct Row { const char* name; uint64_t offset; int loads; };
  // Pieces of 128 KiB: 0, 256 (the middle of 513) and 512 are sampled.
  static const Row rows[] = {
      {"first piece changed", 5, 0},
      {"middle piece changed", 256ull * 131072 + 9, 0},
      {"last piece changed", kKept - 1, 0},
      {"unsampled piece changed keeps the old record", 1ull * 131072 + 7, 1},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::wstring p = WriteFileOf(L"changed.bin", kKept, 2);
    const FileIds ids = HashAndSave(p, kKept);
    Poke(p, r.offset);
    uint8_t sid[16], fid[16];
    std::vector<uint8_t> digests;
    EXPECT_EQ(store_->Load(p.c_str(), kKept, sid, fid, &digests), r.loads);
    if (r.loads) {
      EXPECT_EQ(0, std::memcmp(fid, ids.fid.digest, 16));
    }
    EXPECT_TRUE(RecordExists(ids.sid.digest));
  }
}

TEST_F(HashSerialTest, SmallFilesLoseTheirRecordOnLoad) {
  const uint64_t size = 64ull << 20;
  const std::wstring p = WriteFileOf(L"64m.bin", size, 3);
  const FileIds ids = HashAndSave(p, size);
  ASSERT_TRUE(RecordExists(ids.sid.digest));
  uint8_t sid[16], fid[16];
  std::vector<uint8_t> digests;
  EXPECT_EQ(store_->Load(p.c_str(), size, sid, fid, &digests), 0);
  EXPECT_EQ(0, std::memcmp(sid, ids.sid.digest, 16));  // the SID is still given out
  EXPECT_FALSE(RecordExists(ids.sid.digest));
}

TEST_F(HashSerialTest, DamagedOrBadlySizedRecordsAreIgnoredAndKept) {
  const std::wstring p = WriteFileOf(L"big.bin", kKept, 4);
  struct Row { const char* name; int64_t byteToFlip; uint64_t resizeTo; };
  static const Row rows[] = {
      {"body byte flipped", 72 + 100, 0},
      {"header byte flipped", 8, 0},
      {"cut to 48 bytes", -1, 48},
      {"grown above 256 MiB", -1, 0x10000001},
      {"4 GiB + 100 bytes", -1, 0x100000064ull},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const FileIds ids = HashAndSave(p, kKept);
    const std::wstring rec = store_->RecordPath(ids.sid.digest);
    if (r.byteToFlip >= 0) Poke(rec, static_cast<uint64_t>(r.byteToFlip));
    if (r.resizeTo) {
      HANDLE h = CreateFileW(rec.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      LARGE_INTEGER at;
      at.QuadPart = static_cast<LONGLONG>(r.resizeTo);
      ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
      ASSERT_TRUE(SetEndOfFile(h));
      CloseHandle(h);
    }
    uint8_t sid[16], fid[16];
    std::vector<uint8_t> digests;
    EXPECT_EQ(store_->Load(p.c_str(), kKept, sid, fid, &digests), 0);
    EXPECT_EQ(store_->LoadDigests(ids.sid.digest, ids.fid.digest, kKept, &digests), 0);
    EXPECT_TRUE(RecordExists(ids.sid.digest));
  }
}

TEST_F(HashSerialTest, SaveFromDigestsNeedsOneDigestPerPiece) {
  const uint64_t size = 70ull << 20;
  const uint64_t n = GetPieceCount(size);
  const uint8_t fid[16] = {9};
  std::vector<uint8_t> digests(16 * n, 0x11);
  digests[0] = 0x22;
  EXPECT_EQ(store_->SaveFromDigests(L"x", size, fid, nullptr), 0);
  EXPECT_EQ(store_->SaveFromDigests(L"x", size, nullptr, &digests), 0);
  std::vector<uint8_t> fewer(digests.begin(), digests.end() - 16);
  EXPECT_EQ(store_->SaveFromDigests(L"x", size, fid, &fewer), 0);
  ASSERT_EQ(store_->SaveFromDigests(L"x", size, fid, &digests), 1);
  uint8_t sid[16];
  SampleIdFromDigests(digests.data(), n, sid);
  EXPECT_TRUE(RecordExists(sid));
  EXPECT_EQ(store_->Save(size, nullptr, fid, digests), 0);
}

TEST_F(HashSerialTest, ARecordIsReplacedWholeOrNotAtAll) {
  // Two records of one SID: the same sampled pieces, another unsampled one.
  const uint64_t size = 70ull << 20;
  const uint64_t n = GetPieceCount(size);
  std::vector<uint8_t> oldDigests(16 * n, 0x11), newDigests(16 * n, 0x11);
  newDigests[16] = 0x33;
  uint8_t sid[16], newSid[16], oldFid[16], newFid[16];
  SampleIdFromDigests(oldDigests.data(), n, sid);
  SampleIdFromDigests(newDigests.data(), n, newSid);
  ASSERT_EQ(0, std::memcmp(sid, newSid, 16));
  FileIdFromDigests(oldDigests.data(), n, oldFid);
  FileIdFromDigests(newDigests.data(), n, newFid);
  const std::wstring rec = store_->RecordPath(sid), beside = rec + kReplaceNewSuffix;

  struct Row {
    const char* name;
    int obstacle;  // 0 none, 1 a torn record left beside by a kill, 2 nothing can be written beside
    bool replaced;
  } rows[] = {{"replaced", 0, true}, {"a torn leftover beside it", 1, true}, {"no room beside it", 2, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ASSERT_EQ(store_->Save(size, sid, oldFid, oldDigests), 1);
    if (r.obstacle == 1) {
      HANDLE h = CreateFileW(beside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      DWORD w = 0;
      WriteFile(h, "\1\0\0\0torn", 8, &w, nullptr);
      CloseHandle(h);
    }
    if (r.obstacle == 2) {
      ASSERT_TRUE(CreateDirectoryW(beside.c_str(), nullptr));
    }
    EXPECT_EQ(store_->Save(size, sid, newFid, newDigests), r.replaced ? 1 : 0);
    std::vector<uint8_t> got;
    EXPECT_EQ(store_->LoadDigests(sid, r.replaced ? newFid : oldFid, size, &got), 1);
    EXPECT_EQ(got, r.replaced ? newDigests : oldDigests);
    if (r.obstacle == 2) RemoveDirectoryW(beside.c_str());
    EXPECT_EQ(GetFileAttributesW(beside.c_str()), INVALID_FILE_ATTRIBUTES);
  }
}

TEST_F(HashSerialTest, QuickHashOfAFileOnDisk) {
  const std::wstring p = WriteFileOf(L"q.bin", 1000, 5);
  std::vector<uint8_t> bytes(1000);
  CFileByteSource f;
  ASSERT_TRUE(f.Open(p.c_str()));
  ASSERT_EQ(f.ReadAt(0, bytes.data(), bytes.size()), 1000u);
  f.Close();
  uint8_t whole[20];
  Sha1Digest(whole, bytes.data(), bytes.size());
  struct Row { const char* name; const wchar_t* path; uint64_t size; int ok; };
  const std::wstring missing = dir_ + L"\\missing.bin";
  const Row rows[] = {
      {"matching size", p.c_str(), 1000, 1},
      {"file grew since sizing", p.c_str(), 999, 0},
      {"file shrank since sizing", p.c_str(), 1001, 0},
      {"size 0", p.c_str(), 0, 0},
      {"missing file", missing.c_str(), 1000, 0},
      {"no path", nullptr, 1000, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    DigestHolder qid;
    EXPECT_EQ(CalcQuickHash(r.path, r.size, &qid), r.ok);
    if (r.ok) {
      EXPECT_EQ(0, std::memcmp(qid.digest, whole, 20));
    }
  }
}
