// The entry layout of the logs: time texts, prefix and the 1024-byte cut.
#include "foundation/log/log_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Entry(const char* timeText, const char* format, ...) {
  char area[kLogEntryMax + 1];
  std::memset(area, 'x', sizeof area);
  va_list args;
  va_start(args, format);
  size_t n = FormatLogEntry(area, timeText, format, args);
  va_end(args);
  EXPECT_EQ(std::strlen(area), n) << "the length must match the terminated text";
  return std::string(area, n);
}

}  // namespace

TEST(LogFormat, TimeTextByMode) {
  const LogTimeFields t{2026, 3, 7, 4, 5, 9, 42};
  struct Row { int mode; const char* expected; };
  static const Row rows[] = {
      {1, "2026-03-07 04:05:09:042"},
      {2, "04:05:09:042"},
      {3, "04:05:09"},
      {4, "2026-03-07"},
      {0, "2026-03-07 04:05:09:042"},
      {7, "2026-03-07 04:05:09:042"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.mode);
    EXPECT_EQ(FormatTimeText(r.mode, t), r.expected);
  }
}

TEST(LogFormat, EntryLayout) {
  struct Row { const char* name; std::string entry; std::string expected; };
  const Row rows[] = {
      {"plain", Entry("2026-01-02 03:04:05:006", "Load config OK"), "\r\n[2026-01-02 03:04:05:006] Load config OK"},
      {"arguments", Entry("T", "Initialize transfer module error %d", 16), "\r\n[T] Initialize transfer module error 16"},
      {"text argument", Entry("T", "Config %s isn't exist", "C:\\a\\od_svr_cfg.ini"),
       "\r\n[T] Config C:\\a\\od_svr_cfg.ini isn't exist"},
      {"empty message", Entry("T", ""), "\r\n[T] "},
      {"no format", Entry("T", nullptr), "\r\n[T] "},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    EXPECT_EQ(r.entry, r.expected);
  }
}

TEST(LogFormat, LongMessagesAreCutAt1024Bytes) {
  const std::string prefix = "\r\n[2026-01-02 03:04:05:006] ";
  struct Row { size_t messageLength; size_t expectedLength; };
  const Row rows[] = {
      {kLogEntryMax - prefix.size() - 1, kLogEntryMax - 1},
      {kLogEntryMax - prefix.size(), kLogEntryMax},
      {kLogEntryMax - prefix.size() + 1, kLogEntryMax},
      {10000, kLogEntryMax},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.messageLength);
    std::string message(r.messageLength, 'm');
    std::string entry = Entry("2026-01-02 03:04:05:006", "%s", message.c_str());
    EXPECT_EQ(entry.size(), r.expectedLength);
    EXPECT_EQ(entry.compare(0, prefix.size(), prefix), 0);
    EXPECT_EQ(entry.find_first_not_of('m', prefix.size()), std::string::npos);
  }
}

TEST(LogFormat, OversizedTimeTextStaysInside) {
  std::string hugeTime(3000, 't');
  std::string entry = Entry(hugeTime.c_str(), "lost");
  EXPECT_EQ(entry.size(), kLogEntryMax);
  EXPECT_EQ(entry.find("lost"), std::string::npos);
}

TEST(LogFormat, WholeEntriesAreNeverCut) {
  const std::string time = "2026-01-02 03:04:05:006";
  const size_t room = kLogEntryMax - std::string("\r\n[" + time + "] ").size();
  struct Row { const char* name; std::string message; bool fits; };
  const Row rows[] = {
      {"short", "1700000000,D:\\V,vxhd://5|AB|a.avi", true},
      {"exactly the room", std::string(room, 'm'), true},
      {"one byte over", std::string(room + 1, 'm'), false},
      {"empty", "", true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::string entry = LogEntryText(time, r.message);
    if (!r.fits) {
      EXPECT_EQ(entry, "");
      continue;
    }
    EXPECT_EQ(entry, "\r\n[" + time + "] " + r.message);
  }
}
