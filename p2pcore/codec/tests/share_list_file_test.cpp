// Share-list files: valid and damaged files, duplicates, terminators, the limit.
#include <gtest/gtest.h>

#include <cstring>

#include "p2pcore/codec/share_list_file.h"
#include "p2pcore/codec/tests/share_list_writer.h"

namespace {

using p2p::share_list_status;
using p2p_test::make_record;
using p2p_test::write_share_list;

TEST(ShareListFile, ValidFilesBothPatterns) {
  for (bool new_pattern : {true, false}) {
    SCOPED_TRACE(new_pattern ? "new" : "old");
    auto rec = make_record(1000, 1, "C:\\a.wmv", 0x01D0000000000000ull, 77);
    rec.paused = 1;
    auto file = write_share_list({rec, make_record(2000, 2, "C:\\b.wmv")}, new_pattern);
    p2p::share_list_collector c;
    auto r = c.add_file(file.data(), file.size());
    EXPECT_EQ(r.status, share_list_status::ok);
    EXPECT_EQ(r.new_pattern, new_pattern);
    EXPECT_EQ(r.records, 2u);
    ASSERT_EQ(r.appended, 2u);
    const auto& got = c.records()[0];
    EXPECT_EQ(uint64_t(got.size), 1000u);
    EXPECT_STREQ(got.path, "C:\\a.wmv");
    EXPECT_EQ(uint64_t(got.last_write), 0x01D0000000000000ull);
    EXPECT_EQ(got.paused, 0);  // every loaded share starts unpaused
    EXPECT_EQ(uint32_t(got.last_access), new_pattern ? 77u : 0u);
  }
}

TEST(ShareListFile, DamagedFilesAddNothing) {
  auto good = write_share_list({make_record(1000, 1, "C:\\a.wmv"), make_record(2000, 2, "C:\\b.wmv")});
  struct Row { const char* name; std::vector<uint8_t> bytes; share_list_status status; };
  std::vector<Row> rows;
  rows.push_back({"empty", {}, share_list_status::no_data});
  rows.push_back({"header only", std::vector<uint8_t>(good.begin(), good.begin() + 12), share_list_status::no_data});
  rows.push_back({"header and part of a record", std::vector<uint8_t>(good.begin(), good.begin() + 12 + 296),
                  share_list_status::bad_size});
  auto flipped = good;
  flipped[12 + 100] ^= 0x01;
  rows.push_back({"flipped payload byte", flipped, share_list_status::bad_check});
  auto seed = good;
  seed[4] ^= 0x01;
  rows.push_back({"changed seed", seed, share_list_status::bad_check});
  auto magic = good;
  magic[1] = 'Y';
  rows.push_back({"unknown magic", magic, share_list_status::unknown_pattern});
  auto cut = good;
  cut.resize(cut.size() - 1);
  rows.push_back({"short by one byte", cut, share_list_status::bad_check});
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    p2p::share_list_collector c;
    auto res = c.add_file(r.bytes.data(), r.bytes.size());
    EXPECT_EQ(res.status, r.status);
    EXPECT_EQ(res.appended, 0u);
    EXPECT_TRUE(c.records().empty());
  }
  // A size above the limit is refused before a byte is read.
  p2p::share_list_collector c;
  EXPECT_EQ(c.add_file(good.data(), size_t(p2p::kShareListMaxFile) + 1).status, share_list_status::too_big);
}

TEST(ShareListFile, CountsRecordsAfterTheHeader) {
  // 12 + 297 bytes is one record; trailing bytes short of a record add none
  // (counting from byte 4 would take a phantom record out of them).
  struct Row { size_t records; size_t tail; };
  for (Row row : {Row{1, 0}, Row{2, 0}, Row{2, 8}, Row{2, 296}}) {
    SCOPED_TRACE(std::to_string(row.records) + " records + " + std::to_string(row.tail));
    std::vector<p2p::share_list_record> recs;
    for (size_t k = 0; k < row.records; ++k) recs.push_back(make_record(100 + k, uint8_t(k * 3), "p" + std::to_string(k)));
    auto file = write_share_list(recs, true, 99, row.tail);
    p2p::share_list_collector c;
    auto res = c.add_file(file.data(), file.size());
    EXPECT_EQ(res.status, share_list_status::ok);
    EXPECT_EQ(res.records, row.records);
    EXPECT_EQ(c.records().size(), row.records);
  }
}

TEST(ShareListFile, PathIsAlwaysTerminated) {
  auto rec = make_record(10, 9, "");
  std::memset(rec.path, 'x', sizeof rec.path);  // no terminator in the file
  auto file = write_share_list({rec});
  p2p::share_list_collector c;
  ASSERT_EQ(c.add_file(file.data(), file.size()).appended, 1u);
  EXPECT_EQ(std::strlen(c.records()[0].path), 254u);
}

TEST(ShareListFile, DuplicatesAcrossFilesKeepTheFirst) {
  auto first = write_share_list({make_record(1, 1, "C:\\a"), make_record(2, 2, "C:\\b")});
  auto second = write_share_list({make_record(9, 1, "C:\\other"),   // same fid as a
                                  make_record(8, 3, "C:\\b"),       // same path as b
                                  make_record(7, 4, "C:\\c"),
                                  make_record(6, 4, "C:\\d")});     // same fid within the file
  p2p::share_list_collector c;
  EXPECT_EQ(c.add_file(first.data(), first.size()).appended, 2u);
  EXPECT_EQ(c.add_file(second.data(), second.size()).appended, 1u);
  ASSERT_EQ(c.records().size(), 3u);
  EXPECT_EQ(uint64_t(c.records()[0].size), 1u);
  EXPECT_STREQ(c.records()[2].path, "C:\\c");
}

TEST(ShareListFile, KeepLargestIsStable) {
  p2p::share_list_collector c;
  auto file = write_share_list({make_record(5, 1, "a"), make_record(9, 2, "b"), make_record(5, 3, "c"),
                                make_record(1, 4, "d"), make_record(5, 5, "e")});
  c.add_file(file.data(), file.size());
  c.keep_largest(3);
  ASSERT_EQ(c.records().size(), 3u);
  EXPECT_STREQ(c.records()[0].path, "b");
  EXPECT_STREQ(c.records()[1].path, "a");  // equal sizes: the earlier record wins
  EXPECT_STREQ(c.records()[2].path, "c");
  c.keep_largest(10);
  EXPECT_EQ(c.records().size(), 3u);
}

}  // namespace
