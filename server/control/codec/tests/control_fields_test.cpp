// Fixed-size UTF-16 fields of control records: zero fill, the cut, and PATH reading.
#include "server/control/codec/control_fields.h"

#include <gtest/gtest.h>

#include <cstring>

#include "server/control/codec/control_records.h"

TEST(PutTextField, FillsAndCutsNameFields) {
  struct Row { const char* name; std::u16string text; size_t copied; };
  const Row rows[] = {
      {"empty", u"", 0},
      {"short", u"服务停止", 4},
      {"one below the field", std::u16string(63, u'a'), 63},
      {"exactly the field: no terminator", std::u16string(64, u'b'), 64},
      {"longer than the field", std::u16string(200, u'c'), 64},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    for (int form = 0; form < 2; ++form) {
      char16_t field[kNameUnits + 1];
      std::memset(field, 0xAB, sizeof field);  // the unit after the field must stay untouched
      if (form == 0)
        PutTextField(field, kNameUnits, r.text.c_str());
      else
        PutTextField(field, kNameUnits, r.text);
      for (size_t i = 0; i < kNameUnits; ++i) {
        char16_t expected = i < r.copied ? r.text[i] : u'\0';
        ASSERT_EQ(field[i], expected) << "unit " << i << " form " << form;
      }
      EXPECT_EQ(field[kNameUnits], 0xABAB);
    }
  }
  char16_t field[kNameUnits];
  std::memset(field, 0xFF, sizeof field);
  PutTextField(field, kNameUnits, static_cast<const char16_t*>(nullptr));
  for (char16_t u : field) EXPECT_EQ(u, 0);
}

TEST(ReadPathField, TakesTextUpToFirstZero) {
  struct Row { const char* name; std::u16string units; std::u16string expected; };
  const std::u16string full(260, u'x');
  std::u16string withZero = u"C:\\a";
  withZero.push_back(u'\0');
  withZero += u"junk";
  const Row rows[] = {
      {"all zero", u"", u""},
      {"plain path", u"C:\\Video\\电影", u"C:\\Video\\电影"},
      {"zero inside", withZero, u"C:\\a"},
      {"260 units without a zero", full, full},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    uint8_t bytes[520] = {};
    for (size_t i = 0; i < r.units.size() && i < 260; ++i) {
      bytes[2 * i] = static_cast<uint8_t>(r.units[i] & 0xFF);
      bytes[2 * i + 1] = static_cast<uint8_t>(r.units[i] >> 8);
    }
    EXPECT_EQ(ReadPathField(bytes), r.expected);
  }
}

TEST(ClampToU32, KeepsFittingValuesAndClampsLarger) {
  struct Row { uint64_t value; uint32_t expected; };
  static const Row rows[] = {
      {0, 0}, {4096, 4096}, {0xFFFFFFFFull, 0xFFFFFFFFu}, {0x100000000ull, 0xFFFFFFFFu}, {17179869184ull, 0xFFFFFFFFu},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.value);
    EXPECT_EQ(ClampToU32(r.value), r.expected);
  }
}
