// The export request's layout and options, the filters of listed files, and the joined, sorted reply text.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "server/links/codec/export_request.h"

namespace {

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

std::vector<uint8_t> RequestBytes(uint32_t kind, uint32_t naming, uint32_t sort, uint64_t start, uint64_t end,
                                  std::u16string keyword, std::u16string path) {
  std::vector<uint8_t> b(1068, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  auto put64 = [&](size_t at, uint64_t v) { std::memcpy(&b[at], &v, 8); };
  put32(0, kind);
  put32(4, naming);
  put32(8, sort);
  put64(12, start);
  put64(20, end);
  std::memcpy(&b[28], keyword.data(), keyword.size() * 2);
  std::memcpy(&b[548], path.data(), path.size() * 2);
  return b;
}

TEST(ExportRequest, Parse) {
  std::vector<uint8_t> b = RequestBytes(1, 2, 0, 100, 200, u"Show", u"D:\\Video");
  ExportOptions o = ParseExportRequest(b.data(), b.size());
  EXPECT_EQ(o.linkKind, 1u);
  EXPECT_TRUE(o.parentNaming);
  EXPECT_FALSE(o.sort);
  EXPECT_EQ(o.rangeStart, 100u);
  EXPECT_EQ(o.rangeEnd, 200u);
  EXPECT_EQ(Narrow(o.keyword), "Show");
  EXPECT_EQ(Narrow(o.path), "D:\\Video");

  // A request cut short reads zeros for what is missing.
  o = ParseExportRequest(b.data(), 30);
  EXPECT_EQ(o.rangeEnd, 200u);
  EXPECT_EQ(Narrow(o.keyword), "S");
  EXPECT_TRUE(o.path.empty());
  o = ParseExportRequest(nullptr, 0);
  EXPECT_EQ(o.linkKind, 0u);

  // A field without a zero is taken whole, never read past.
  std::u16string full(260, u'k');
  b = RequestBytes(0, 0, 0, 0, 0, full, full);
  o = ParseExportRequest(b.data(), b.size());
  EXPECT_EQ(o.keyword.size(), 260u);
  EXPECT_EQ(o.path.size(), 260u);
}

TEST(ExportRequest, RecordFilter) {
  struct Row {
    const char* name;
    uint64_t start, end;
    const char16_t* keyword;
    uint64_t pubTime;
    bool listed;
  } rows[] = {
      {"no range, no keyword", 0, 0, u"", 5, true},
      {"keyword found", 0, 0, u"Show", 5, true},
      {"keyword is case-sensitive", 0, 0, u"show", 5, false},
      {"range start included", 100, 200, u"", 100, true},
      {"range end included", 100, 200, u"", 200, true},
      {"before the range", 100, 200, u"", 99, false},
      {"after the range", 100, 200, u"", 201, false},
      {"an active range makes no keyword test", 100, 200, u"absent", 150, true},
      {"end not after start: no range, keyword decides", 200, 200, u"absent", 200, false},
      {"start missing: no range", 0, 200, u"", 500, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ExportOptions o;
    o.rangeStart = r.start;
    o.rangeEnd = r.end;
    o.keyword = r.keyword;
    EXPECT_EQ(PassesRecordFilter(o, r.pubTime, u"D:\\Video\\Show\\a.avi"), r.listed);
  }
}

TEST(ExportRequest, JoinedLines) {
  const std::vector<std::u16string> lines = {u"vxhd://1|A|b.avi", u"ftp://h/z.avi", u"vxhd://2|B|A.avi",
                                             u"ftp://h/y.avi", u"vxhd://3|C|a.avi"};
  EXPECT_EQ(Narrow(JoinExportLines(lines, false)),
            "vxhd://1|A|b.avi\r\nftp://h/z.avi\r\nvxhd://2|B|A.avi\r\nftp://h/y.avi\r\nvxhd://3|C|a.avi\r\n");
  // Names compare case-blind and stably; FTP links never go first and keep their order.
  EXPECT_EQ(Narrow(JoinExportLines(lines, true)),
            "vxhd://2|B|A.avi\r\nvxhd://3|C|a.avi\r\nvxhd://1|A|b.avi\r\nftp://h/z.avi\r\nftp://h/y.avi\r\n");
  EXPECT_EQ(Narrow(JoinExportLines({}, true)), "");
}

}  // namespace
