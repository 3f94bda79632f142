// The candidate list: a pair per language, no repeats, at most ten entries,
// always ending with the system default; and the library's file name.
#include "ui/app/codec/language_list.h"

#include <gtest/gtest.h>

namespace {
// Stands in for ConvertDefaultLocale: a neutral sublanguage becomes the default one.
uint16_t Convert(uint16_t id) { return (id & 0xFC00) == 0 ? static_cast<uint16_t>(id | 0x400) : id; }
}  // namespace

TEST(CMultiLanguage, CandidateLists) {
  struct Row {
    const char* name;
    std::vector<uint16_t> added;
    std::vector<uint16_t> expected;  // after the system default
  } rows[] = {
      {"user and system equal", {0x0804, 0x0804}, {0x0804, 0x0404, 0x800}},
      {"two languages", {0x0804, 0x0409}, {0x0804, 0x0404, 0x0409, 0x0409, 0x800}},
      {"five languages fill it; the default takes the last slot",
       {0x0804, 0x0409, 0x0407, 0x040C, 0x0411},
       {0x0804, 0x0404, 0x0409, 0x0409, 0x0407, 0x0407, 0x040C, 0x040C, 0x0411, 0x800}},
      {"six languages: the sixth is refused",
       {0x0804, 0x0409, 0x0407, 0x040C, 0x0411, 0x0412},
       {0x0804, 0x0404, 0x0409, 0x0409, 0x0407, 0x0407, 0x040C, 0x040C, 0x0411, 0x800}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    CMultiLanguage list(Convert);
    for (uint16_t id : row.added) list.AddLanguage(id);
    list.AddSystemDefault();
    EXPECT_LE(list.Count(), CMultiLanguage::kMaxLanguages);
    EXPECT_EQ(list.Candidates(), row.expected);
  }
}

TEST(CMultiLanguage, AddResults) {
  CMultiLanguage list(Convert);
  EXPECT_EQ(list.AddLanguage(0x0804), 0x0804);
  EXPECT_EQ(list.AddLanguage(0x0804), 0x0804);  // already there: nothing added
  EXPECT_EQ(list.Count(), 2u);
  for (uint16_t id : {0x0409, 0x0407, 0x040C}) EXPECT_EQ(list.AddLanguage(id), id);
  EXPECT_EQ(list.AddLanguage(0x0411), 0x0411);  // the pair fills the list
  EXPECT_EQ(list.AddLanguage(0x0412), 0);       // full
  EXPECT_EQ(list.Count(), 10u);

  CMultiLanguage odd(Convert);
  for (uint16_t id : {0x0804, 0x0409, 0x0407, 0x040C}) odd.AddLanguage(id);
  odd.AddSystemDefault();
  EXPECT_EQ(odd.AddLanguage(0x0411), 0);  // only its first entry fits
  EXPECT_EQ(odd.Count(), 10u);
}

TEST(LanguageLibraryPath, NameAndLengthLimit) {
  EXPECT_EQ(LanguageLibraryPath(u"C:\\Orchard\\OrchardUI.exe", u"CHS"), u"C:\\Orchard\\OrchardUI_CHS.DLL");
  EXPECT_EQ(LanguageLibraryPath(u"C:\\Orchard\\OrchardUI.exe", u"LOC"), u"C:\\Orchard\\OrchardUI_LOC.DLL");
  std::u16string longPath = u"C:\\" + std::u16string(257, u'a') + u".exe";  // 264 units
  EXPECT_TRUE(LanguageLibraryPath(longPath, u"ENU").has_value());
  std::u16string tooLong = u"C:\\" + std::u16string(261, u'a') + u".exe";  // 268 units
  EXPECT_FALSE(LanguageLibraryPath(tooLong, u"ENU").has_value());
}
