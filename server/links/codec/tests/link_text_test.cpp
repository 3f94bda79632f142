// Link builders: the vxhd and FTP forms over names, accounts, ports and share entries.
#include <gtest/gtest.h>

#include "server/links/codec/link_text.h"

namespace {

std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }

const uint8_t kFid[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                          0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};

TEST(LinkText, VxhdLink) {
  struct Row {
    const char16_t* path;
    bool parentNaming;
    const char* expected;
  } rows[] = {
      {u"D:\\Video\\Show\\a.avi", false, "vxhd://1000000|0123456789ABCDEF1032547698BADCFE|a.avi"},
      {u"D:\\Video\\Show\\a.avi", true, "vxhd://1000000|0123456789ABCDEF1032547698BADCFE|Show_a.avi"},
      {u"D:\\Video\\Show\\\\a.b.rmvb", true, "vxhd://1000000|0123456789ABCDEF1032547698BADCFE|Show_a.b.rmvb"},
      {u"D:\\a.avi", true, "vxhd://1000000|0123456789ABCDEF1032547698BADCFE|D:_a.avi"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Narrow(r.path));
    EXPECT_EQ(Narrow(MakeVxhdLinkText(1000000, kFid, r.path, r.parentNaming)), r.expected);
  }
}

TEST(LinkText, FtpLink) {
  const FtpLinkShare home{u"C:\\Users\\u\\ODHomeDir", u"", 1};
  const FtpLinkShare video{u"D:\\Video", u"C:\\Users\\u\\ODHomeDir\\0123ABCD", 0};
  const FtpLinkShare bare{u"E:\\Films\\", u"", 0};
  struct Row {
    const char* name;
    const char16_t *user, *password, *host;
    uint32_t port;
    std::vector<FtpLinkShare> shares;
    const char16_t* path;
    const char16_t* callerHost;
    const char* expected;
  } rows[] = {
      {"everything set, top of a published directory", u"bob", u"pw", u"h.example", 2121, {home, video},
       u"D:\\Video\\a.avi", u"", "ftp://bob:pw@h.example:2121/0123ABCD/a.avi"},
      {"sub-directory", u"bob", u"pw", u"h.example", 2121, {home, video}, u"D:\\Video\\S1\\S2\\a.avi", u"",
       "ftp://bob:pw@h.example:2121/0123ABCD/S1/S2/a.avi"},
      {"password without user", u"", u"pw", u"h", 21, {}, u"D:\\x\\a.avi", u"", "ftp://anonymous:pw@h/a.avi"},
      {"user without password", u"bob", u"", u"h", 21, {}, u"D:\\x\\a.avi", u"", "ftp://bob@h/a.avi"},
      {"no account, port 21", u"", u"", u"h", 21, {}, u"D:\\x\\a.avi", u"", "ftp://h/a.avi"},
      {"caller's host wins", u"", u"", u"h", 21, {}, u"D:\\x\\a.avi", u"1.2.3.4", "ftp://1.2.3.4/a.avi"},
      {"no host at all", u"", u"", u"", 2100, {}, u"D:\\x\\a.avi", u"", "ftp://:2100/a.avi"},
      {"home entry", u"", u"", u"h", 21, {home, video}, u"C:\\Users\\u\\ODHomeDir\\in\\a.avi", u"",
       "ftp://h/in/a.avi"},
      {"home entry, top", u"", u"", u"h", 21, {home}, u"C:\\Users\\u\\ODHomeDir\\a.avi", u"", "ftp://h/a.avi"},
      {"case-blind match", u"", u"", u"h", 21, {video}, u"d:\\VIDEO\\a.avi", u"", "ftp://h/0123ABCD/a.avi"},
      {"a longer name is another directory", u"", u"", u"h", 21, {video}, u"D:\\Video2\\a.avi", u"",
       "ftp://h/a.avi"},
      {"first covering entry in list order", u"", u"", u"h", 21, {bare, video}, u"E:\\Films\\x\\a.avi", u"",
       "ftp://h/x/a.avi"},
      {"empty path", u"bob", u"", u"h", 21, {}, u"", u"", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    FtpLinkSettings s;
    s.user = r.user;
    s.password = r.password;
    s.host = r.host;
    s.port = r.port;
    s.shares = r.shares;
    EXPECT_EQ(Narrow(MakeFtpLinkText(r.path, s, r.callerHost)), r.expected);
    // Building the link leaves the settings as they were.
    EXPECT_EQ(Narrow(s.user), Narrow(r.user));
  }
}

}  // namespace
