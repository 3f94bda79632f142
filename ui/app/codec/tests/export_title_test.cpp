// The export window is found by its title holding the file's name anywhere.
#include "ui/app/codec/export_title.h"

#include <gtest/gtest.h>

#include <string>

TEST(IsExportWindowTitle, ContainsTheFileName) {
  struct Row {
    const char16_t* title;
    bool expected;
  } rows[] = {
      {u"Orchard-Export URL - Notepad", true},
      {u"Orchard-Export URL - \u8bb0\u4e8b\u672c", true},  // a Chinese Notepad's title
      {u"*Orchard-Export URL - Notepad", true},
      {u"Orchard-Export URL", true},
      {u"orchard-export url - Notepad", false},  // the test is case-sensitive
      {u"Orchard-Export - Notepad", false},
      {u"Untitled - Notepad", false},
      {u"", false},
  };
  for (const Row& row : rows) {
    std::u16string title = row.title;
    SCOPED_TRACE(std::string(title.begin(), title.end()));
    EXPECT_EQ(IsExportWindowTitle(title), row.expected);
  }
}
