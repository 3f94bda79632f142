// URL schemes and parsing, percent-encoding, download-link normalisation and
// share-link parsing.
#include <gtest/gtest.h>

#include <string>

#include "foundation/text/download_link.h"
#include "foundation/text/percent_encoding.h"
#include "foundation/text/share_link.h"
#include "foundation/text/tests/fake_code_page.h"
#include "foundation/text/url_parse.h"

namespace {
const std::string kId = "0123456789ABCDEF0123456789ABCDEF";
}

TEST(UrlScheme, Codes) {
  struct Row { const char* text; uint32_t code; };
  const Row rows[] = {
      {"HTTP://host/", 1}, {"http://h", 1}, {"ftp://h", 2}, {"mms://h", 3}, {"MMST://h", 3},
      {"rtsp://h", 4}, {"qepxp://x", 5}, {"VXHD://1|2|3", 5}, {"qedpxp://x", 0},
      {"thunder://x", 0}, {"http:/h", 0}, {"", 0}, {"x http://h", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(GetUrlScheme(r.text), r.code);
  }
}

TEST(ParseUrl, Fields) {
  struct Row {
    const char* text; bool ok; uint32_t scheme; const char* host; uint32_t port;
    const char* path; const char* dir; const char* file; const char* user; const char* pass;
  };
  const Row rows[] = {
      {"http://example.com", true, 1, "example.com", 80, "/", "/", "", "", ""},
      {"ftp://user:pw@host:2121/dir/file.avi", true, 2, "host", 2121, "/dir/file.avi", "/dir/", "file.avi", "user", "pw"},
      {"http://u@host", true, 1, "host", 80, "/", "/", "", "u", ""},
      {"http://a:b@c@host/x", true, 1, "host", 80, "/x", "/", "x", "a", "b@c"},
      // An "@" after the first "/" belongs to the path.
      {"http://host/path/a@b.avi", true, 1, "host", 80, "/path/a@b.avi", "/path/", "a@b.avi", "", ""},
      {"http://host/p:q@r/s", true, 1, "host", 80, "/p:q@r/s", "/p:q@r/", "s", "", ""},
      {"HTTP://Example.com/a", true, 0, "Example.com", 0, "/a", "/", "a", "", ""},
      {"mms://media.example/live", true, 0, "media.example", 0, "/live", "/", "live", "", ""},
      {"http://host//x", true, 1, "host", 80, "/x", "/", "x", "", ""},
      {"http:\\\\host\\a\\b.rm", true, 1, "host", 80, "/a/b.rm", "/a/", "b.rm", "", ""},
      {"http://host/a/b.php?x=/y/z", true, 1, "host", 80, "/a/b.php?x=/y/z", "/a/", "b.php", "", ""},
      {"http://host:/", true, 1, "host", 80, "/", "/", "", "", ""},
      {"http://host:65535/", true, 1, "host", 65535, "/", "/", "", "", ""},
      {"http://host:65536/", false, 0, "", 0, "", "", "", "", ""},
      {"http://host:0/", false, 0, "", 0, "", "", "", "", ""},
      {"http://host:abc/", false, 0, "", 0, "", "", "", "", ""},
      {"http://host:99999999999/", false, 0, "", 0, "", "", "", "", ""},
      {"http://host:-80/", false, 0, "", 0, "", "", "", "", ""},
      {"no scheme here", false, 0, "", 0, "", "", "", "", ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    UrlParts p;
    p.host = "stale";
    EXPECT_EQ(ParseUrl(r.text, &p), r.ok);
    EXPECT_EQ(p.scheme, r.scheme);
    EXPECT_EQ(p.host, r.host);
    EXPECT_EQ(p.port, r.port);
    EXPECT_EQ(p.path, r.path);
    EXPECT_EQ(p.directory, r.dir);
    EXPECT_EQ(p.fileName, r.file);
    EXPECT_EQ(p.userName, r.user);
    EXPECT_EQ(p.password, r.pass);
  }
}

TEST(PercentEncoding, EncodeAndBoundedDecode) {
  const LinkTextEnv env = fake_cp::Env();
  EXPECT_EQ(PercentEncode("/a b%.avi", env.oem), "/a b%.avi");
  EXPECT_EQ(PercentEncode("/\xD6\xD0\xCE\xC4.avi", env.oem), "/%E4%B8%AD%E6%96%87.avi");
  // Bytes the code page cannot read are escaped as they are.
  EXPECT_EQ(PercentEncode("\xFF\xFE", env.oem), "%FF%FE");

  struct Row { const char* text; const char* bytes; bool high; };
  const Row rows[] = {
      {"a%20b", "a b", false},
      {"%e4%B8%AD", "\xE4\xB8\xAD", true},
      {"%DF", "\xDF", false},
      {"%E0", "\xE0", true},
      {"end%", "end%", false},
      {"end%2", "end%2", false},
      {"%zz%4", "%zz%4", false},
      {"100%%41", "100%A", false},
      {"", "", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    bool high = !r.high;
    EXPECT_EQ(PercentDecode(r.text, &high), r.bytes);
    EXPECT_EQ(high, r.high);
  }
}

TEST(DecodeDownloadLink, NormalisesLinks) {
  struct Row { const char* name; std::string text; bool ok; std::string result; };
  const Row rows[] = {
      {"trimmed, blanks and backslashes", "  http://host/a b\\c.avi \r\n", true, "http://host/a%20b/c.avi"},
      {"credentials and port kept", "http://user:pw@host:8080/x", true, "http://user:pw@host:8080/x"},
      {"default port dropped", "http://host:80/x", true, "http://host/x"},
      {"ftp default port dropped", "ftp://host:21/x", true, "ftp://host/x"},
      {"bare scheme", "http://", true, "http://"},
      {"path percent-encoded", "ftp://host/\xD6\xD0\xCE\xC4.avi", true, "ftp://host/%E4%B8%AD%E6%96%87.avi"},
      {"port out of range", "http://host:70000/x", false, ""},
      {"other scheme encoded whole", "mms://host/a b", true, "mms://host/a%20b"},
      {"share link cut after |/", "vxhd://123|" + kId + "|a b.avi|/tail", true, "vxhd://123|" + kId + "|a%20b.avi|/"},
      {"thunder", "thunder://QUFodHRwOi8vaG9zdC9hLmF2aVpa", true, "http://host/a.avi"},
      // Without "://" a text is read as a qedpxp payload, which this is not.
      {"thunder without slashes", "thunder:QUFodHRwOi8vaG9zdC9hLmF2aVpa", false, ""},
      {"thunder in UTF-8", "thunder://QUFodHRwOi8vaG9zdC/kuK0uYXZpWlo=", true, "http://host/%E4%B8%AD.avi"},
      {"thunder short: ZZ kept", "thunder://QUExMlpa", true, "12ZZ"},
      {"thunder decodes to one byte", "thunder://QQ==", false, ""},
      {"thunder decodes to nothing", "thunder://", false, ""},
      {"thunder too long", "thunder://" + std::string(22000, 'A'), false, ""},
      {"qqdl", "qqdl://aHR0cDovL2hvc3QvYi5ybQ==", true, "http://host/b.rm"},
      {"qedpxp", "qedpxp://MTIzNDU2N2h0dHA6Ly9ob3N0L2MubXA0W1FFRFBYUF10YWls&x=1", true, "http://host/c.mp4"},
      {"qedpxp without marker", "qedpxp://MTIzNDU2N2h0dHA6Ly9ob3N0L2MubXA0", false, ""},
      {"qedpxp shorter than its prefix", "qedpxp://MTIzNDU=", false, ""},
      {"qedpxp empty", "qedpxp://", false, ""},
      {"bare payload", "MTIzNDU2N2h0dHA6Ly9ob3N0L2QuZmx2W1FFRFBYUF0=", true, "http://host/d.flv"},
      {"nested qedpxp",
       "qedpxp://MTIzNDU2N3FlZHB4cDovL01USXpORFUyTjJoMGRIQTZMeTlvTDJWYlVVVkVVRmhRWFE9PVtRRURQWFBd", true,
       "http://h/e"},
  };
  const LinkTextEnv env = fake_cp::Env();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string t = r.text;
    EXPECT_EQ(DecodeDownloadLink(t, env), r.ok);
    EXPECT_EQ(t, r.result);
  }
}

TEST(ParseShareLink, Fields) {
  struct Row { const char* name; std::string link; uint32_t locale; bool ok; uint64_t size; std::string fileName; };
  const Row rows[] = {
      {"plain", "vxhd://1000000|" + kId + "|a.avi", 2052, true, 1000000, "a.avi"},
      {"scheme in capitals, trailing field", "VXHD://5|" + kId + "|a.avi|/", 2052, true, 5, "a.avi"},
      {"largest size", "vxhd://18446744073709551615|" + kId + "|a", 2052, true, UINT64_MAX, "a"},
      {"two fields", "vxhd://1000|" + kId, 2052, false, 0, ""},
      {"one field", "vxhd://1000", 2052, false, 0, ""},
      {"nothing after the scheme", "vxhd://", 2052, false, 0, ""},
      {"size 0", "vxhd://0|" + kId + "|a.avi", 2052, false, 0, ""},
      {"negative size", "vxhd://-5|" + kId + "|a.avi", 2052, false, 0, ""},
      {"size with letters", "vxhd://12x|" + kId + "|a.avi", 2052, false, 0, ""},
      {"size overflows", "vxhd://18446744073709551616|" + kId + "|a", 2052, false, 0, ""},
      {"short id", "vxhd://1|0123|a.avi", 2052, false, 0, ""},
      {"other scheme", "http://1|" + kId + "|a.avi", 2052, false, 0, ""},
      {"empty name", "vxhd://1|" + kId + "|", 2052, true, 1, ""},
      {"escapes, cut ones kept", "vxhd://1|" + kId + "|a%20b%2", 2052, true, 1, "a b%2"},
      {"lone percent kept", "vxhd://1|" + kId + "|100%", 2052, true, 1, "100%"},
      {"unsafe characters", "vxhd://1|" + kId + "|a%7Cb:c*d?e\"f<g>h/i\\j\r\nk.avi", 2052, true, 1,
       "a_b_c_d_e_f_g_h_i_jk.avi"},
      // A zero would cut the name short wherever it is used as a C string.
      {"escaped zero", "vxhd://1|" + kId + "|a.exe%00.avi", 2052, true, 1, "a.exe_.avi"},
      {"raw zero", "vxhd://1|" + kId + "|a.exe" + std::string(1, '\0') + ".avi", 2052, true, 1, "a.exe_.avi"},
      {"control characters", "vxhd://1|" + kId + "|a%01b\tc%1F.avi", 2052, true, 1, "a_b_c_.avi"},
      {"UTF-8 name", "vxhd://1|" + kId + "|\xE4\xB8\xAD\xE6\x96\x87.avi", 2052, true, 1, "\xD6\xD0\xCE\xC4.avi"},
      {"escaped UTF-8", "vxhd://1|" + kId + "|%E4%B8%AD.avi", 2052, true, 1, "\xD6\xD0.avi"},
      {"escaped GBK", "vxhd://1|" + kId + "|%D6%D0.avi", 2052, true, 1, "\xD6\xD0.avi"},
      {"escaped GBK, traditional locale", "vxhd://1|" + kId + "|%BC%F2.avi", 1028, true, 1, "\xBC\xF2.avi~T"},
      {"raw GBK, Hong Kong locale", "vxhd://1|" + kId + "|\xBC\xF2.avi", 3076, true, 1, "\xBC\xF2.avi~T"},
      {"UTF-8, traditional locale", "vxhd://1|" + kId + "|\xE4\xB8\xAD.avi", 1028, true, 1, "\xD6\xD0.avi"},
      {"escaped UTF-8, traditional locale", "vxhd://1|" + kId + "|%E4%B8%AD.avi", 5124, true, 1, "\xD6\xD0.avi"},
      {"ascii, traditional locale", "vxhd://1|" + kId + "|a.avi", 4100, true, 1, "a.avi"},
      // 0x81 0x5C is one character; its trail byte is no backslash.
      {"trail byte 0x5C", "vxhd://1|" + kId + "|\x81\x5C.avi", 2052, true, 1, "\x81\x5C.avi"},
      {"qepxp with fields", "qepxp://1000|" + kId + "|a.avi", 2052, true, 1000, "a.avi"},
      {"qepxp with Base64",
       "qepxp://dnhoZDovLzEwMDB8MDEyMzQ1Njc4OUFCQ0RFRjAxMjM0NTY3ODlBQkNERUZ8Yi5hdmk=", 2052, true, 1000,
       "b.avi"},
      {"qepxp with anything else", "qepxp://MTIzNDU=", 2052, false, 0, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ShareLinkFields f;
    f.name = "stale";
    EXPECT_EQ(ParseShareLink(r.link, &f, fake_cp::Env(r.locale)), r.ok);
    EXPECT_EQ(f.id, r.ok ? kId : "");
    EXPECT_EQ(f.size, r.size);
    EXPECT_EQ(f.name, r.fileName);
  }
}
