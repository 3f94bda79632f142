// Path fields of the records: paths that do not fit are refused, never cut.
#include "server/publish/codec/publish_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>


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

TEST(PublishRecords, ZeroId) {
  uint8_t id[16] = {};
  EXPECT_TRUE(IsZeroId(id));
  id[15] = 1;
  EXPECT_FALSE(IsZeroId(id));
}
