// The publish task's hashing of a file on disk: the ids of the one-thread
// pass with or without the MD5 side, and each refusal (stop, changed size,
// unopenable file) logged as the task logs it, with the outputs left alone.
#include "server/hash/calc_hash.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "foundation/log/server_logs.h"
#include "server/hash/codec/file_ids.h"
#include "server/hash/file_source.h"
#include "server/hash/tests/hash_test_files.h"

namespace {
class CalcHashTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(g_MainLog.Open(Wide(dir_.File("main.log")).c_str(), 1, false), 1); }
  void TearDown() override { g_MainLog.Close(); }

  static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  std::string MainLog() {
    g_MainLog.Flush();
    std::ifstream in(dir_.File("main.log"), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  static FileIds SequentialIds(const std::wstring& path, uint64_t size) {
    CFileByteSource source;
    EXPECT_TRUE(source.Open(path.c_str()));
    FileIds ids;
    EXPECT_TRUE(ComputeFileIdsSequential(source, size, &ids));
    return ids;
  }

  HashTestDir dir_{"calc_hash"};
};

void Mark(DigestHolder* d) {
  std::memset(d->digest, 0xEE, sizeof d->digest);
  d->length = 7;
}
}  // namespace

TEST_F(CalcHashTest, IdsOfTheSequentialPass) {
  struct Row { const char* name; uint64_t size; bool fullHash; };
  static const Row rows[] = {
      {"one byte", 1, true},
      {"one block and a byte", 0x40001, true},
      {"many lanes", (5 << 20) + 3, true},
      {"many lanes, 128 KiB MD5 pieces", (40 << 20) + 1, true},
      {"stored record: the SHA-1 side only", (5 << 20) + 3, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string path = dir_.File("f.bin");
    ASSERT_TRUE(WriteMarkedFile(path, r.size, uint32_t(r.size)));
    const FileIds expect = SequentialIds(Wide(path), r.size);
    DigestHolder fid, sid, cid;
    Mark(&fid);
    Mark(&sid);
    std::vector<uint8_t> pieces = {1, 2, 3};
    ASSERT_EQ(CalcFileHash(Wide(path).c_str(), r.size, &fid, &sid, &cid, &pieces, r.fullHash, nullptr), 1);
    EXPECT_EQ(0, std::memcmp(cid.digest, expect.cid.digest, 20));
    EXPECT_EQ(cid.length, 20u);
    if (r.fullHash) {
      EXPECT_EQ(0, std::memcmp(fid.digest, expect.fid.digest, 16));
      EXPECT_EQ(0, std::memcmp(sid.digest, expect.sid.digest, 16));
      EXPECT_TRUE(pieces == expect.pieceDigests);
    } else {
      // The stored record's ids stay as they were.
      EXPECT_EQ(fid.length, 7u);
      EXPECT_EQ(sid.length, 7u);
      EXPECT_EQ(pieces, (std::vector<uint8_t>{1, 2, 3}));
    }
  }
  EXPECT_NE(MainLog().find("PUBTASK - Do Calc Final, Size=40 M, TimeUsed="), std::string::npos);
}

TEST_F(CalcHashTest, RefusalsAreLoggedAndLeaveTheIds) {
  const uint64_t size = (3 << 20) + 5;
  const std::string path = dir_.File("r.bin");
  ASSERT_TRUE(WriteMarkedFile(path, size, 9));
  HANDLE stop = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  struct Row { const char* name; std::wstring path; uint64_t size; HANDLE stop; const char* logged; };
  const Row rows[] = {
      {"stop event set", Wide(path), size, stop, "StopEvent, nCalcSize=0\n"},
      {"size changed since it was measured", Wide(path), size - 1, nullptr, "FileChanged, nCalcSize=0\n"},
      {"file cannot be opened", Wide(dir_.File("missing.bin")), size, nullptr, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string before = MainLog();
    DigestHolder fid, sid, cid;
    Mark(&fid);
    Mark(&cid);
    std::vector<uint8_t> pieces = {4};
    EXPECT_EQ(CalcFileHash(r.path.c_str(), r.size, &fid, &sid, &cid, &pieces, true, r.stop), 0);
    EXPECT_EQ(fid.length, 7u);
    EXPECT_EQ(cid.length, 7u);
    EXPECT_EQ(pieces, std::vector<uint8_t>{4});
    const std::string added = MainLog().substr(before.size());
    if (r.logged) {
      EXPECT_NE(added.find(r.logged), std::string::npos) << added;
      EXPECT_NE(added.find("PUBTASK - Do Calc Final, Size=3 M"), std::string::npos) << added;
    } else {
      EXPECT_EQ(added, "");
    }
  }
  CloseHandle(stop);
}
