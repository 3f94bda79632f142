// Path fields of the records: paths that do not fit are refused, never cut.
#include "server/publish/codec/publish_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>


TEST(PublishRecords, PathFieldTakesAtMost259Units) {
  struct Row { const char* name; size_t units; bool ok; };
  static const Row rows[] = {{"empty", 0, true}, {"259 units", 259, true}, {"260 units", 260, false},
                             {"1000 units", 1000, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    CPublishDir d;
    std::memset(&d, 0x7F, sizeof d);
    const std::u16string p(r.units, u'x');
    EXPECT_EQ(SetRecordPath(d.path, p.data(), p.size()), r.ok);
    if (r.ok) {
      EXPECT_EQ(RecordPathLength(d.path), r.units);
      EXPECT_EQ(d.path[kRecordPathUnits - 1], 0);
    } else {
      EXPECT_EQ(d.path[0], 0x7F7F);  // left alone
    }
  }
  CPublishDir d{};
  EXPECT_FALSE(SetRecordPath(d.path, nullptr, 0));
}

TEST(PublishRecords, PathOfAFileRecordAtItsOddOffset) {
  // The file record is byte-packed: its path starts at offset 65, so the
  // field is never where a char16_t may be read directly.
  const std::u16string path = u"C:\\media\\a.avi";
  std::vector<uint8_t> bytes(sizeof(CPublishItem) + 1);
  for (size_t shift : {0, 1}) {
    SCOPED_TRACE(shift);
    auto* item = reinterpret_cast<CPublishItem*>(bytes.data() + shift);
    ASSERT_TRUE(SetRecordPath(item->fileName, path.data(), path.size()));
    EXPECT_EQ(RecordPathLength(item->fileName), path.size());
    EXPECT_EQ(RecordPathText(item->fileName), path);
    EXPECT_EQ(bytes[shift + offsetof(CPublishItem, fileName)], 'C');
  }
}

TEST(PublishRecords, ZeroId) {
  uint8_t id[16] = {};
  EXPECT_TRUE(IsZeroId(id));
  id[15] = 1;
  EXPECT_FALSE(IsZeroId(id));
}

TEST(PublishRecords, StoredIdBlobOfAnyLength) {
  const uint8_t blob[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  struct Row { const char* name; const void* blob; int bytes; size_t kept; };
  const Row rows[] = {
      {"null column", nullptr, 0, 0},  {"empty blob", blob, 0, 0},     {"negative size", blob, -1, 0},
      {"short blob, zero-padded", blob, 5, 5}, {"16 bytes", blob, 16, 16}, {"longer blob, cut", blob, 20, 16},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    uint8_t id[16];
    std::memset(id, 0xEE, sizeof id);
    ReadStoredId(r.blob, r.bytes, id);
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(id[i], i < r.kept ? blob[i] : 0) << "byte " << i;
  }
}
