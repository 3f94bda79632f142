// Record ids and path fields: paths that do not fit are refused, never cut.
#include "server/publish/codec/publish_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/codec/md5.h"

TEST(PublishRecords, RecordIdIsMd5OfUtf16LeUnits) {
  const std::u16string path = u"C:\\Video\\\u4E2D.mp4";
  uint8_t bytes[64];
  for (size_t i = 0; i < path.size(); ++i) {
    bytes[2 * i] = static_cast<uint8_t>(path[i]);
    bytes[2 * i + 1] = static_cast<uint8_t>(path[i] >> 8);
  }
  uint8_t want[16], got[16];
  MD5Digest(bytes, 2 * path.size(), want);
  PathRecordId(path.data(), path.size(), got);
  EXPECT_EQ(0, std::memcmp(want, got, 16));
  // Long paths go through in chunks; the id is still the MD5 of all units.
  std::u16string longPath(1500, u'a');
  std::string narrow(3000, '\0');
  for (size_t i = 0; i < longPath.size(); ++i) narrow[2 * i] = 'a';
  MD5Digest(narrow.data(), narrow.size(), want);
  PathRecordId(longPath.data(), longPath.size(), got);
  EXPECT_EQ(0, std::memcmp(want, got, 16));
}

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
