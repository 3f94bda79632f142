// The entry's time text and its 1024-byte limit.
#include "ui/settings/codec/log_entry.h"

#include <gtest/gtest.h>

TEST(FormatLogEntry, TimeAndLimit) {
  LogTime t{2026, 3, 7, 9, 5, 1, 42};
  EXPECT_EQ(FormatLogEntry(t, "Send CMD - Close server"), "\r\n[2026-03-07 09:05:01:042] Send CMD - Close server");
  std::string longText(2000, 'x');
  std::string entry = FormatLogEntry(t, longText);
  EXPECT_EQ(entry.size(), kLogEntryMaxBytes);
  EXPECT_EQ(entry.substr(0, 28), "\r\n[2026-03-07 09:05:01:042] ");
}
