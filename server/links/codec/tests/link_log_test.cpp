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

TEST(LinkLog, WholeLinks) {
  const std::string id = "F53962767D622E6C0123456789ABCDEF";
  struct Row {
    const char* name;
    std::string link;
    bool vxhd;  // a whole vxhd link
    bool ftp;   // an FTP link with a name
    const char* linkName;
  } rows[] = {
      {"vxhd", "vxhd://1000000|" + id + "|a.avi", true, false, "a.avi"},
      {"vxhd, lower-case id", "vxhd://5|f53962767d622e6c0123456789abcdef|x y.mkv", true, false, "x y.mkv"},
      {"vxhd cut in the name's place", "vxhd://5|" + id + "|", false, false, ""},
      {"vxhd cut in the id", "vxhd://5|F53962767D622E6C", false, false, ""},
      {"vxhd cut after the size", "vxhd://5|", false, false, ""},
      {"vxhd cut in the scheme", "vxhd:/", false, false, ""},
      {"vxhd with size 0", "vxhd://0|" + id + "|a.avi", false, false, ""},
      {"vxhd with no size", "vxhd://|" + id + "|a.avi", false, false, ""},
      {"vxhd size past 64 bits", "vxhd://18446744073709551616|" + id + "|a.avi", false, false, ""},
      {"vxhd of the largest 64-bit size", "vxhd://18446744073709551615|" + id + "|a.avi", true, false, "a.avi"},
      {"vxhd id not hex", "vxhd://5|G53962767D622E6C0123456789ABCDEF|a.avi", false, false, ""},
      {"vxhd id of 31 digits", "vxhd://5|" + id.substr(1) + "|a.avi", false, false, ""},
      {"ftp", "ftp://bob:pw@h:2121/D/a.avi", false, true, "a.avi"},
      {"ftp without a host", "ftp:///F53962767D622E6C", false, true, "F53962767D622E6C"},
      {"ftp ending in a slash", "ftp://h/D/", false, false, ""},
      {"ftp scheme alone", "ftp://", false, false, ""},
      {"another scheme", "http://h/a.avi", false, false, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string name;
    EXPECT_EQ(ReadVxhdLinkName(r.link, &name), r.vxhd);
    if (r.vxhd) {
      EXPECT_EQ(name, r.linkName);
    }
    name.clear();
    EXPECT_EQ(ReadFtpLinkName(r.link, &name), r.ftp);
    if (r.ftp) {
      EXPECT_EQ(name, r.linkName);
    }
  }
}

namespace {
std::string Id(char c) { return std::string(32, c); }
std::string LogLine(int64_t t, const std::string& dir, const std::string& link) {
  return "\r\n" + kPrefix + FormatLinkLogText(int32_t(t), dir, link);
}
// A file's two lines as the publish task writes them.
std::string Pair(int64_t t, const std::string& dir, uint64_t size, char id, const std::string& name) {
  return LogLine(t, dir, "vxhd://" + std::to_string(size) + "|" + Id(id) + "|" + name) +
         LogLine(t, dir, "ftp://h/" + name);
}
std::string Vxhd(uint64_t size, char id, const std::string& name) {
  return "vxhd://" + std::to_string(size) + "|" + Id(id) + "|" + name;
}
}  // namespace

TEST(LinkLog, LastPublishFiles) {
  const int64_t now = 1700007200;
  std::string log;
  log += Pair(now - 10, "D:\\B", 2, 'B', "z.avi");
  log += Pair(now - 9, "D:\\A,1", 1, 'A', "b.avi");
  log += Pair(now - 8, "D:\\B", 3, 'C', "a.avi");
  log += Pair(now - 7, "D:\\B", 3, 'C', "a.avi");  // published again: listed once
  log += Pair(now - 9000, "D:\\Old", 4, 'D', "old.avi");
  log += LogLine(now - 5, "D:\\B", "vxhd://broken");
  // A long line is read whole.
  const std::string longName(700, 'n');
  log += Pair(now - 4, "D:\\C", 6, 'E', longName);
  log += "\r\n";

  LastPublishTexts t = BuildLastPublishTexts(log, now);
  EXPECT_EQ(t.vxhd,
            "\r\nD:\\A,1\r\n" + Vxhd(1, 'A', "b.avi") + "\r\n"
            "\r\nD:\\B\r\n" + Vxhd(3, 'C', "a.avi") + "\r\n" + Vxhd(2, 'B', "z.avi") + "\r\n"
            "\r\nD:\\C\r\n" + Vxhd(6, 'E', longName) + "\r\n");
  EXPECT_EQ(t.ftp,
            "\r\nD:\\A,1\r\nftp://h/b.avi\r\n"
            "\r\nD:\\B\r\nftp://h/a.avi\r\nftp://h/z.avi\r\n"
            "\r\nD:\\C\r\nftp://h/" + longName + "\r\n");

  t = BuildLastPublishTexts(Pair(now - 9000, "D:\\Old", 4, 'D', "old.avi"), now);
  EXPECT_EQ(t.vxhd, "");
  EXPECT_EQ(t.ftp, "");
}

TEST(LinkLog, LastPublishOrderIsThatOfTheJoinedTexts) {
  // A blank sorts before the comma that joins the parts, so a directory or
  // name that extends another with " ..." comes first.
  const int64_t now = 1700007200;
  std::string log;
  log += Pair(now - 10, "D:\\V", 1, 'A', "a.avi");
  log += Pair(now - 9, "D:\\V", 2, 'B', "a b.avi");
  log += Pair(now - 8, "D:\\V 2", 3, 'C', "c.avi");
  const LastPublishTexts t = BuildLastPublishTexts(log, now);
  EXPECT_EQ(t.vxhd, "\r\nD:\\V 2\r\n" + Vxhd(3, 'C', "c.avi") + "\r\n"
                    "\r\nD:\\V\r\n" + Vxhd(2, 'B', "a b.avi") + "\r\n" + Vxhd(1, 'A', "a.avi") + "\r\n");
  EXPECT_EQ(t.ftp, "\r\nD:\\V 2\r\nftp://h/c.avi\r\n"
                   "\r\nD:\\V\r\nftp://h/a b.avi\r\nftp://h/a.avi\r\n");
}

TEST(LinkLog, OnlyWholePairsAreExported) {
  const int64_t now = 1700007200;
  const std::string good = Pair(now - 20, "D:\\V", 5, 'A', "keep.avi");
  const std::string pair = Pair(now - 10, "D:\\V", 123, 'F', "F53962767D622E6C.avi");
  struct Row {
    const char* name;
    std::string tail;  // after one good pair
    bool tailExported;
  } rows[] = {
      {"whole pair", pair, true},
      {"cut in the FTP name", pair.substr(0, pair.size() - 4), false},
      {"cut after the FTP scheme", pair.substr(0, pair.rfind("ftp://") + 6), false},
      {"FTP line missing", pair.substr(0, pair.rfind("\r\n[")), false},
      {"cut in the vxhd name", pair.substr(0, pair.find(".avi")), false},
      {"cut in the vxhd id", pair.substr(0, pair.find("|F5396") + 9), false},
      {"FTP line of another file", LogLine(now - 10, "D:\\V", Vxhd(123, 'F', "x.avi")) +
                                       LogLine(now - 10, "D:\\V", "ftp://h/y.avi"), false},
      {"FTP line at another time", LogLine(now - 10, "D:\\V", Vxhd(123, 'F', "x.avi")) +
                                        LogLine(now - 11, "D:\\V", "ftp://h/x.avi"), false},
      {"FTP line first", LogLine(now - 10, "D:\\V", "ftp://h/x.avi") +
                             LogLine(now - 10, "D:\\V", Vxhd(123, 'F', "x.avi")), false},
      {"vxhd line twice, then its FTP line", LogLine(now - 10, "D:\\V", Vxhd(123, 'F', "x.avi")) + pair, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const LastPublishTexts t = BuildLastPublishTexts(good + r.tail, now);
    EXPECT_NE(t.vxhd.find(Vxhd(5, 'A', "keep.avi")), std::string::npos);
    EXPECT_EQ(t.vxhd.find(Vxhd(123, 'F', "F53962767D622E6C.avi")) != std::string::npos, r.tailExported) << t.vxhd;
    EXPECT_EQ(t.ftp.find("ftp://h/F53962767D622E6C.avi") != std::string::npos, r.tailExported) << t.ftp;
    EXPECT_EQ(t.ftp.find("ftp://h/F5396") != std::string::npos, r.tailExported) << t.ftp;
    EXPECT_EQ(t.ftp.find("ftp://h/x.avi"), std::string::npos);
    EXPECT_EQ(t.ftp.find("ftp://h/y.avi"), std::string::npos);
  }
}

}  // namespace
