// Text and number formatting, address parsing and classes, the splitter.
#include <gtest/gtest.h>

#include "foundation/text/address_text.h"
#include "p2pcore/codec/texts.h"

namespace {

TEST(Texts, SizeTextThresholds) {
  struct Row { int64_t bytes; const char* text; };
  const Row rows[] = {
      {-5, "       "},
      {0, "       "},
      {1023, "       "},
      {1024, "  1.0 K"},
      {1023999, "1000.0 K"},
      {1024000, "  1.0 M"},
      {1048575999, "1000.0 M"},
      {1048576000, " 0.98 G"},
      {0x100000000LL + 1, " 4.00 G"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.bytes);
    EXPECT_EQ(p2p::size_text(r.bytes), r.text);
  }
}

TEST(Texts, GroupDigits) {
  struct Row { int64_t v; const char* text; };
  const Row rows[] = {{0, "0"}, {999, "999"}, {1000, "1,000"}, {1234567, "1,234,567"}, {-1234567, "-1,234,567"},
                      {-100, "-100"}, {INT64_MAX, "9,223,372,036,854,775,807"}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.v);
    EXPECT_EQ(p2p::group_digits(r.v), r.text);
  }
}

TEST(Texts, HexAndAddresses) {
  const uint8_t hash[16] = {0x00, 0x01, 0xAB, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10};
  char text[33];
  p2p::hash_to_hex(hash, text);
  EXPECT_STREQ(text, "0001ABFF000000000000000000000010");
  EXPECT_EQ(Ipv4Text(0x0100007F), "127.0.0.1");
  EXPECT_EQ(p2p::clock_text({2024, 1, 2, 3, 4, 5, 6}), "2024-01-02 03:04:05:006");
}

TEST(Texts, ParseIpv4IsStrict) {
  struct Row { const char* text; bool ok; uint32_t value; };
  const Row rows[] = {
      {"10.0.0.1", true, 0x0A000001},     {"255.255.255.255", true, 0xFFFFFFFF}, {"0.0.0.0", true, 0},
      {"256.0.0.1", false, 0},            {"1.2.3", false, 0},                   {"1.2.3.4.5", false, 0},
      {"1.2.3.4 ", false, 0},             {"", false, 0},                        {"a.b.c.d", false, 0},
      {"0001.2.3.4", false, 0},           {"1..3.4", false, 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    uint32_t v = 0;
    EXPECT_EQ(p2p::parse_ipv4(r.text, &v), r.ok);
    if (r.ok) {
      EXPECT_EQ(v, r.value);
    }
  }
}

TEST(Texts, AddressClassAndUsable) {
  struct Row { uint8_t a[4]; int cls; };
  const Row rows[] = {{{255, 1, 1, 1}, 0},   {{169, 254, 3, 3}, 0}, {{10, 9, 9, 9}, 1},    {{127, 0, 0, 1}, 1},
                      {{172, 16, 0, 1}, 1},  {{172, 31, 9, 9}, 1},  {{172, 32, 0, 1}, 2},  {{192, 168, 1, 1}, 1},
                      {{169, 253, 1, 1}, 2}, {{8, 8, 8, 8}, 2}};
  for (const Row& r : rows) {
    SCOPED_TRACE(int(r.a[0]) * 1000 + r.a[1]);
    EXPECT_EQ(AddressClass(r.a), r.cls);
  }
  EXPECT_FALSE(IsUsableAddressText(""));
  EXPECT_FALSE(IsUsableAddressText("0.0.0.0"));
  EXPECT_FALSE(IsUsableAddressText("127.0.0.1"));
  EXPECT_TRUE(IsUsableAddressText("192.168.1.2"));
}

TEST(Texts, WideCompareAndSlashes) {
  struct Row { const char16_t* a; const char16_t* b; int r; };
  const Row rows[] = {{u"abc", u"abc", 0}, {u"abd", u"abc", 1}, {u"abc", u"abd", -255}, {u"ab", u"abc", -255},
                      {u"abc", u"ab", 1}, {u"", u"", 0}};
  for (const Row& r : rows) {
    SCOPED_TRACE(int(r.r));
    EXPECT_EQ(p2p::wide_compare(r.a, r.b), r.r);
  }
  std::u16string path = u"a/b/c\\d";
  EXPECT_EQ(p2p::to_backslashes(path), 2u);
  EXPECT_EQ(path, u"a\\b\\c\\d");
  std::string text = "a\r\nb\r\r";
  EXPECT_EQ(p2p::remove_cr(text), 3u);
  EXPECT_EQ(text, "a\nb");
}

TEST(Texts, Splitter) {
  struct Row { const char* text; const char* sep; bool drop; std::vector<std::string> fields; };
  const Row rows[] = {
      {"a,b,,c", ",", false, {"a", "b", "", "c"}},
      {"a,b,,c", ",", true, {"a", "b", "c"}},
      {"", ",", false, {""}},
      {"", ",", true, {}},
      {"x--y--", "--", false, {"x", "y", ""}},
      {"one", ",", false, {"one"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(p2p::text_splitter(r.text, r.sep, r.drop).split(), r.fields);
  }
}

}  // namespace
