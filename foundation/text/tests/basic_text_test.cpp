// Tokens, Base64, hexadecimal texts, case mapping and UTF-8.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/text/ascii_case.h"
#include "foundation/text/base64.h"
#include "foundation/text/hex_text.h"
#include "foundation/text/tests/fake_code_page.h"
#include "foundation/text/token_list.h"
#include "foundation/text/utf8_text.h"

TEST(TokenList, SplitsAtEverySeparator) {
  struct Row { const char* text; const char* sep; std::vector<std::string> pieces; };
  const Row rows[] = {
      {"a,b,,c", ",", {"a", "b", "", "c"}},
      {"", ",", {}},
      {"abc", ",", {"abc"}},
      {",", ",", {"", ""}},
      {"a\r\nb\r\n", "\r\n", {"a", "b", ""}},
      {"1|2|3", "|", {"1", "2", "3"}},
      {"abc", "", {"abc"}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string("text \"") + r.text + "\" separator \"" + r.sep + "\"");
    const CTokenList list(r.text, r.sep);
    EXPECT_EQ(list.Pieces(), r.pieces);
    EXPECT_EQ(list.At(r.pieces.size()), "");
  }
  CTokenList list;
  list.SetText("x,y");
  EXPECT_EQ(list.Count(), 2u);
  EXPECT_EQ(list.At(1), "y");
}

TEST(Base64, EncodesRfcVectors) {
  const char* const rows[][2] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r[0]);
    EXPECT_EQ(Base64EncodeText(r[0]), r[1]);
    std::string back;
    ASSERT_TRUE(Base64DecodeText(r[1], 64, &back));
    EXPECT_EQ(back, r[0]);
  }
}

TEST(Base64, EncodeNeedsFullCapacity) {
  char out[8];
  size_t written = 99;
  EXPECT_FALSE(Base64Encode("abcd", 4, out, 7, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(Base64Encode("abcd", 4, out, 8, &written));
  EXPECT_EQ(std::string(out, written), "YWJjZA==");
}

TEST(Base64, DecodeSkipsForeignCharactersAndRespectsCapacity) {
  struct Row { const char* name; std::string text; size_t capacity; bool ok; std::string bytes; };
  const Row rows[] = {
      {"line breaks inside", "Zm9v\r\nYmFy", 16, true, "foobar"},
      {"no padding", "Zm9vYg", 16, true, "foob"},
      {"one stray sextet gives nothing", "Zm9vY", 16, true, "foo"},
      {"zero byte ends the input", std::string("Zm9v\0YmFy", 9), 16, true, "foo"},
      {"exact capacity", "Zm9vYmFy", 6, true, "foobar"},
      {"full group over capacity", "Zm9vYmFy", 5, false, ""},
      {"partial group over capacity", "Zm9vYg==", 3, false, ""},
      {"only foreign characters", "*** ===", 0, true, ""},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::vector<uint8_t> out(r.capacity + 1, 0xEE);
    size_t written = 0;
    EXPECT_EQ(Base64Decode(r.text.data(), r.text.size(), out.data(), r.capacity, &written), r.ok);
    if (r.ok) {
      EXPECT_EQ(std::string(out.begin(), out.begin() + written), r.bytes);
    }
    EXPECT_EQ(out[r.capacity], 0xEE) << "wrote past the capacity";
  }
}

TEST(HexText, UpperCaseDigits) {
  const uint8_t bytes[] = {0x00, 0xAB, 0x7F, 0x10};
  EXPECT_EQ(HexText(bytes, sizeof bytes), "00AB7F10");
  EXPECT_EQ(HexText(bytes, 0), "");
}

TEST(HexText, HexToBytesNeedsExactlyTwoDigitsPerByte) {
  struct Row { const char* text; size_t n; bool ok; std::vector<uint8_t> bytes; };
  const Row rows[] = {
      {"00ab7F", 3, true, {0x00, 0xAB, 0x7F}},
      {"00AB7", 3, false, {0, 0, 0}},
      {"00AB7F10", 3, false, {0, 0, 0}},
      {"0x1234", 3, false, {0, 0, 0}},
      {" 1AB7F", 3, false, {0, 0, 0}},
      {"+1AB7F", 3, false, {0, 0, 0}},
      {"00AB7G", 3, false, {0, 0, 0}},
      {"", 0, true, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    std::vector<uint8_t> out(r.n, 0x55);
    EXPECT_EQ(HexToBytes(r.text, out.data(), r.n), r.ok);
    EXPECT_EQ(out, r.bytes);
  }
}

TEST(HexText, DigestTexts) {
  uint8_t digest[16];
  for (int i = 0; i < 16; ++i) digest[i] = static_cast<uint8_t>(i * 17);
  const std::string text = "00112233445566778899AABBCCDDEEFF";
  EXPECT_EQ(BytesToHex(digest), text);
  EXPECT_EQ(BytesToHex(nullptr), "");
  const uint8_t zero[16] = {};
  EXPECT_EQ(BytesToHex(zero), "");

  struct Row { std::string text; bool ok; };
  const Row rows[] = {
      {text, true},
      {"00112233445566778899aabbccddeeff", true},
      {text.substr(1), false},
      {text + "0", false},
      {"0011223344556677 899AABBCCDDEEFF", false},
      {"001122334455667-8899AABBCCDDEEFF", false},
      {"0x112233445566778899AABBCCDDEEFF", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    uint8_t out[16];
    memset(out, 0x55, sizeof out);
    EXPECT_EQ(HexToBytes16(r.text, out), r.ok);
    EXPECT_EQ(memcmp(out, r.ok ? digest : zero, 16), 0);
  }
}

TEST(AsciiCase, RuntimeMappingTouchesOnlyLatinLetters) {
  std::string t = "ABC-Zz\xC4\xE4";
  ToLowerText(t);
  EXPECT_EQ(t, "abc-zz\xC4\xE4");
  EXPECT_EQ(ToUpperString("abc-Zz\xE4"), "ABC-ZZ\xE4");
  EXPECT_EQ(CompareNoCase(u"Abc", u"aBC"), 0);
  EXPECT_LT(CompareNoCase(u"ab", u"ABC"), 0);
  EXPECT_GT(CompareNoCase(u"b", u"A"), 0);
}

TEST(Utf8, Validity) {
  struct Row { const char* name; const char* text; bool valid; };
  const Row rows[] = {
      {"empty", "", true},
      {"ascii", "abc", true},
      {"three bytes", "\xE4\xB8\xAD", true},
      {"four bytes", "\xF0\x9F\x98\x80", true},
      {"overlong slash", "\xC0\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"cut short", "\xE4\xB8", false},
      {"lone continuation", "\x80", false},
      {"GBK bytes", "\xD6\xD0\xCE\xC4", false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(IsValidUtf8(r.text), r.valid);
    if (r.valid) {
      EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(r.text)), r.text);
    }
  }
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), std::u16string(u"\xD83D\xDE00"));
  EXPECT_EQ(Utf8ToUtf16("a\xC0z"), std::u16string(u"a\xFFFDz"));
  EXPECT_EQ(Utf16ToUtf8(u"\xD800x"), "\xEF\xBF\xBDx");
}

TEST(Utf8, ToCodePageInPlace) {
  struct Row { const char* name; std::string text; size_t capacity; bool ok; std::string result; };
  const Row rows[] = {
      {"converted", "\xE4\xB8\xAD\xE6\x96\x87", 16, true, "\xD6\xD0\xCE\xC4"},
      {"cut to capacity - 1", "\xE4\xB8\xAD\xE6\x96\x87", 4, true, "\xD6\xD0\xCE"},
      {"ascii stays", "a.avi", 16, true, "a.avi"},
      {"not UTF-8", "\xD6\xD0", 16, false, "\xD6\xD0"},
      {"not in the code page", "\xC3\xA9", 16, false, "\xC3\xA9"},
  };
  const LinkTextEnv env = fake_cp::Env();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    std::string t = r.text;
    EXPECT_EQ(Utf8ToCodePageInPlace(t, r.capacity, env.oem), r.ok);
    EXPECT_EQ(t, r.result);
  }
}
