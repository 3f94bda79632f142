// Size, speed and address texts, path texts and the order of link lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/text/address_text.h"
#include "foundation/text/line_sort.h"
#include "foundation/text/path_text.h"
#include "foundation/text/record_id.h"
#include "foundation/text/size_text.h"

namespace {
std::string Narrow(const std::u16string& s) { return std::string(s.begin(), s.end()); }
}  // namespace

TEST(SizeText, UnitText) {
  struct Row { uint64_t size; const char* text; };
  const Row rows[] = {
      {0, "0 K"},
      {1023, "1.0 K"},
      {1536, "1.5 K"},
      {10240, "10 K"},
      {1023999, "999 K"},
      {1024000, "1.0 M"},
      {15ull << 20, "15 M"},
      {5ull << 30, "5.0 G"},
      {1ull << 50, "1048576 G"},
      {UINT64_MAX, "17179869183 G"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    EXPECT_EQ(Narrow(SizeUnitText(r.size)), r.text);
  }
}

TEST(SizeText, FormatFileSize) {
  struct Row { int64_t size; const char* text; };
  const Row rows[] = {
      {-5, "-5 B"},
      {INT64_MIN, "-9223372036854775808 B"},
      {0, "0 B"},
      {999, "999 B"},
      {1000, "0.98 KB"},
      {1023999, "1000.00 KB"},
      {1024000, "0.98 MB"},
      {1048575999, "1000.00 MB"},
      {1048576000, "0.98 GB"},
      {5ll << 40, "5120.00 GB"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.size);
    EXPECT_EQ(FormatFileSize(r.size), r.text);
  }
  EXPECT_EQ(FormatSpeedText(2048), "2.00 KB/S");
  EXPECT_EQ(FormatSpeedText(0), "0 B/S");
}

TEST(AddressText, TextsAndClasses) {
  const uint8_t a[4] = {192, 168, 1, 2};
  EXPECT_EQ(Ipv4Text(a), "192.168.1.2");
  EXPECT_EQ(Ipv4Text(a, 8080), "192.168.1.2:8080");
  const uint8_t b[4] = {255, 255, 255, 255};
  EXPECT_EQ(Ipv4Text(b, 65535), "255.255.255.255:65535");
  uint32_t inAddr;
  memcpy(&inAddr, a, 4);
  EXPECT_EQ(Ipv4Text(inAddr), "192.168.1.2");

  struct Row { uint8_t addr[4]; int cls; };
  const Row rows[] = {
      {{255, 0, 0, 1}, 0},     {{169, 254, 3, 4}, 0},  {{169, 253, 0, 1}, 2},   {{10, 1, 2, 3}, 1},
      {{127, 0, 0, 1}, 1},     {{172, 15, 0, 1}, 2},   {{172, 16, 0, 1}, 1},    {{172, 31, 255, 255}, 1},
      {{172, 32, 0, 1}, 2},    {{192, 168, 0, 1}, 1},  {{192, 169, 0, 1}, 2},   {{8, 8, 8, 8}, 2},
      {{0, 0, 0, 0}, 2},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Ipv4Text(r.addr));
    EXPECT_EQ(AddressClass(r.addr), r.cls);
  }
  const char* const unusable[] = {"", "0.0.0.0", "127.0.0.1"};
  for (const char* t : unusable) EXPECT_FALSE(IsUsableAddressText(t)) << t;
  EXPECT_TRUE(IsUsableAddressText("10.0.0.1"));
}

TEST(PathText, JoinCombineNormalise) {
  struct Row { const char16_t* dir; const char16_t* name; const char16_t* join; const char16_t* combine; };
  const Row rows[] = {
      {u"C:\\dir", u"D:\\x.avi", u"D:\\x.avi", u"C:\\dir\\D:\\x.avi"},
      {u"C:\\dir\\", u"\\a.avi", u"C:\\dir\\a.avi", u"C:\\dir\\\\a.avi"},
      {u"C:\\dir", u"a.avi", u"C:\\dir\\a.avi", u"C:\\dir\\a.avi"},
      {u"C:\\dir\\", u"a.avi", u"C:\\dir\\a.avi", u"C:\\dir\\a.avi"},
      {u"C:\\dir", u"\\\\srv\\share", u"\\\\srv\\share", u"C:\\dir\\\\\\srv\\share"},
      {u"", u"a.avi", u"a.avi", u"\\a.avi"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Narrow(std::u16string(r.dir) + u" + " + r.name));
    EXPECT_EQ(PathJoin(r.dir, r.name), r.join);
    EXPECT_EQ(CombinePath(r.dir, r.name), r.combine);
  }
  EXPECT_EQ(NormalizeDirPath(u"C:/a/b"), u"C:\\a\\b\\");
  EXPECT_EQ(NormalizeDirPath(u"C:\\a\\\\"), u"C:\\a\\");
  EXPECT_EQ(NormalizeDirPath(u""), u"");
}

TEST(PathText, ExtensionsAndMediaTests) {
  struct Row { const char16_t* path; const char16_t* ext; bool publishable; bool media; };
  const Row rows[] = {
      {u"x.RMVB", u".RMVB", true, true},
      {u"x.rmv", u".rmv", false, false},
      {u"x.rm", u".rm", true, false},
      {u"noext", u"", false, false},
      {u"x.", u".", false, false},
      {u"a.b.avi", u".avi", true, true},
      {u"x.avi.txt", u".txt", false, false},
      {u"C:\\v.avi\\readme", u"", false, false},
      {u"D:\\m\\x.Asf", u".Asf", true, false},
      {u"x.f4v", u".f4v", true, true},
      {u"x.mkv.", u".", false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Narrow(r.path));
    EXPECT_EQ(GetFileExtension(r.path), r.ext);
    EXPECT_EQ(IsPublishableFile(r.path), r.publishable);
    EXPECT_EQ(IsMediaFile(r.path), r.media);
  }
  struct PageRow { const char* name; bool page; };
  const PageRow pages[] = {{"index.HTML", true}, {"a.aspx", true}, {"a.shtm", true}, {"a.asp.txt", false},
                           {"php", false}, {"a.js", false}};
  for (const PageRow& r : pages) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(IsWebPageName(r.name), r.page);
  }
}

TEST(LineSort, CompareAfterLastBar) {
  struct Row { const char16_t* a; const char16_t* b; bool before; };
  const Row rows[] = {
      {u"1|x|a.avi", u"2|y|B.avi", true},
      {u"1|x|b.avi", u"2|y|A.avi", false},
      {u"1|x|A.avi", u"2|y|a.avi", true},
      {u"x|z|a", u"y|b", true},
      {u"ftp://h/a", u"1|x|b", false},
      {u"1|x|b", u"ftp://h/a", true},
      {u"ftp://h/b", u"ftp://h/a", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Narrow(std::u16string(r.a) + u" / " + r.b));
    EXPECT_EQ(CompareAfterLastBar(r.a, r.b), r.before);
  }
}

TEST(LineSort, SortsStablyByName) {
  struct Row { const char* name; std::vector<std::u16string> in, out; };
  const Row rows[] = {
      {"names, equal ones in order",
       {u"vxhd://1|I|b.avi", u"vxhd://2|I|A.avi", u"vxhd://3|I|a.avi", u"vxhd://4|I|C.avi"},
       {u"vxhd://2|I|A.avi", u"vxhd://3|I|a.avi", u"vxhd://1|I|b.avi", u"vxhd://4|I|C.avi"}},
      {"FTP links keep their order", {u"ftp://h/3", u"ftp://h/1", u"ftp://h/2"}, {u"ftp://h/3", u"ftp://h/1", u"ftp://h/2"}},
      {"FTP links after named lines",
       {u"ftp://h/x", u"v|I|b", u"ftp://h/y", u"v|I|a"}, {u"v|I|a", u"v|I|b", u"ftp://h/x", u"ftp://h/y"}},
      {"empty", {}, {}},
      {"one", {u"a|b"}, {u"a|b"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<std::u16string> lines = r.in;
    SortLinesAfterLastBar(lines);
    EXPECT_EQ(lines, r.out);
  }
}

TEST(LineSort, MatchesStableSortOnRandomLists) {
  // std::stable_sort with the strict order the predicate stands for is the reference.
  const auto key = [](const std::u16string& s) -> std::u16string {
    const size_t bar = s.rfind(u'|');
    if (bar == std::u16string::npos) return std::u16string(1, u'\xFFFF');
    std::u16string k = s.substr(bar + 1);
    for (char16_t& c : k) c = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    return k;
  };
  std::mt19937 rng(4);
  const char16_t* const names[] = {u"|a", u"|A", u"|b", u"|B", u"|ab", u"", u"|", u"|c|a"};
  for (int round = 0; round < 200; ++round) {
    std::vector<std::u16string> lines(rng() % 40);
    for (size_t i = 0; i < lines.size(); ++i) {
      lines[i] = std::u16string(1, static_cast<char16_t>(u'0' + i)) + names[rng() % 8];
    }
    std::vector<std::u16string> expected = lines;
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const std::u16string& a, const std::u16string& b) { return key(a) < key(b); });
    SortLinesAfterLastBar(lines);
    ASSERT_EQ(lines, expected) << "round " << round;
  }
}

TEST(RecordId, TableNameOfPath) {
  struct Row { const char16_t* path; const char* name; };
  const Row rows[] = {
      {u"D:\\Video\\Show", "_38ACD3BEFFE0F195EE5A003114D7F058"},
      {u"", "_D41D8CD98F00B204E9800998ECF8427E"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(Narrow(r.path));
    const std::string name = MakeDirTableName(r.path);
    EXPECT_EQ(name, r.name);
    EXPECT_EQ(name.size(), 33u);
  }
  // Code units go in low byte first: a unit above 0xFF tells.
  EXPECT_EQ(MakeDirTableName(u"\u4E2D"), "_7DA635444A82C0AB1BFD9717DA62101E");
}
