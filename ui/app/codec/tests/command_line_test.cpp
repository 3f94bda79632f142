// The close switch acts only in its one exact form.
#include "ui/app/codec/command_line.h"

#include <gtest/gtest.h>

TEST(IsCloseSwitch, ExactFormOnly) {
  struct Row {
    const char16_t* line;
    bool expected;
  } rows[] = {
      {u"/close", true}, {u"-close", true},  {u"close", false},   {u"/Close", false}, {u"/CLOSE", false},
      {u"/close ", false}, {u"/closed", false}, {u" /close", false}, {u"", false},      {u"/", false},
      {u"-boot", false},
  };
  for (const Row& row : rows) {
    std::u16string line = row.line;
    SCOPED_TRACE(std::string(line.begin(), line.end()));
    EXPECT_EQ(IsCloseSwitch(line), row.expected);
  }
}
