// Link-log entries read back: commas, short and damaged lines, the two-hour window and the grouped output files.
#include <gtest/gtest.h>

#include "server/links/codec/link_log.h"

namespace {

const std::string kPrefix = "[2026-12-10 09:00:00:000] ";  // 26 characters

TEST(LinkLog, ParseLine) {
  struct Row {
    const char* name;
    std::string line;
    bool ok;
    int64_t time;
    const char* dir;
    const char* link;
  } rows[] = {
      {"plain", kPrefix + "1700000000,D:\\V,vxhd://5|AB|a.avi", true, 1700000000, "D:\\V", "vxhd://5|AB|a.avi"},
      {"line break kept by the reader", kPrefix + "7,D:\\V,ftp://h/a.avi\r\n", true, 7, "D:\\V", "ftp://h/a.avi"},
      {"commas in the directory", kPrefix + "7,D:\\a,b\\c,d,vxhd://5|AB|x.avi", true, 7, "D:\\a,b\\c,d",
       "vxhd://5|AB|x.avi"},
      {"commas in the link", kPrefix + "7,D:\\V,ftp://h/a,b.avi", true, 7, "D:\\V", "ftp://h/a,b.avi"},
      {"commas in both", kPrefix + "7,D:\\a,b,vxhd://5|AB|x,y.avi", true, 7, "D:\\a,b", "vxhd://5|AB|x,y.avi"},
      {"empty directory", kPrefix + "7,,ftp://h/a.avi", true, 7, "", "ftp://h/a.avi"},
      {"prefix only", kPrefix, false, 0, "", ""},
      {"shorter than the prefix", "[2026-12-10]", false, 0, "", ""},
      {"no link", kPrefix + "7,D:\\V,nothing", false, 0, "", ""},
      {"scheme glued to the time", kPrefix + "7ftp://h/a.avi", false, 0, "", ""},
      {"time not a number", kPrefix + "x7,D:\\V,ftp://h/a.avi", false, 0, "", ""},
      {"time too large", kPrefix + "99999999999999999999,D:\\V,ftp://h/a", false, 0, "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    LinkLogEntry e;
    ASSERT_EQ(ParseLinkLogLine(r.line, &e), r.ok);
    if (!r.ok) continue;
    EXPECT_EQ(e.time, r.time);
    EXPECT_EQ(e.directory, r.dir);
    EXPECT_EQ(e.link, r.link);
  }
}

TEST(LinkLog, FormatReadsBack) {
  LinkLogEntry e;
  ASSERT_TRUE(ParseLinkLogLine(kPrefix + FormatLinkLogText(-5, "D:\\x,y", "ftp://h/a,b"), &e));
  EXPECT_EQ(e.time, -5);
  EXPECT_EQ(e.directory, "D:\\x,y");
  EXPECT_EQ(e.link, "ftp://h/a,b");
}

TEST(LinkLog, RecentWindow) {
  const int64_t now = 1700007200;
  struct Row {
    int64_t time;
    bool recent;
  } rows[] = {{now, true}, {now - 7200, true}, {now - 7201, false}, {now + 5, true}, {0, false}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.time);
    EXPECT_EQ(IsRecentLinkTime(r.time, now), r.recent);
  }
}

TEST(LinkLog, LastPublishFiles) {
  const int64_t now = 1700007200;
  auto line = [](int64_t t, const std::string& dir, const std::string& link) {
    return "\r\n" + kPrefix + FormatLinkLogText(int32_t(t), dir, link);
  };
  std::string log;
  log += line(now - 10, "D:\\B", "vxhd://2|BB|z.avi");
  log += line(now - 10, "D:\\B", "ftp://h/z.avi");
  log += line(now - 9, "D:\\A,1", "vxhd://1|AA|b.avi");
  log += line(now - 9, "D:\\A,1", "ftp://h/b.avi");
  log += line(now - 8, "D:\\B", "vxhd://3|CC|a.avi");
  log += line(now - 8, "D:\\B", "ftp://h/a.avi");
  log += line(now - 7, "D:\\B", "vxhd://3|CC|a.avi");  // published again: listed once
  log += line(now - 9000, "D:\\Old", "vxhd://4|DD|old.avi");
  log += line(now - 9000, "D:\\Old", "ftp://h/old.avi");
  log += line(now - 5, "D:\\B", "vxhd://broken");
  // A long line is read whole.
  const std::string longName(700, 'n');
  log += line(now - 4, "D:\\C", "ftp://h/" + longName);
  log += "\r\n";

  LastPublishTexts t = BuildLastPublishTexts(log, now);
  EXPECT_EQ(t.vxhd,
            "\r\nD:\\A,1\r\nvxhd://1|AA|b.avi\r\n"
            "\r\nD:\\B\r\nvxhd://3|CC|a.avi\r\nvxhd://2|BB|z.avi\r\n");
  EXPECT_EQ(t.ftp,
            "\r\nD:\\A,1\r\nftp://h/b.avi\r\n"
            "\r\nD:\\B\r\nftp://h/a.avi\r\nftp://h/z.avi\r\n"
            "\r\nD:\\C\r\nftp://h/" + longName + "\r\n");

  t = BuildLastPublishTexts(line(now - 9000, "D:\\Old", "ftp://h/old.avi"), now);
  EXPECT_EQ(t.vxhd, "");
  EXPECT_EQ(t.ftp, "");
}

}  // namespace
